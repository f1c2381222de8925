/*
 * itens242.js: the item types APEX 24.2 adds, for the stand-in page (apex_standin.js, which
 * must be loaded after this file, takes them from window.__zvTipos).
 *
 *   - Switch (item_type CHECKBOX, apex.widget.yesNo): span.a-Switch holding
 *     input[type=checkbox].apex-item-yes-no#ITEM with value (on) and data-off-value (off);
 *     getValue gives the on value when checked, else the off value; setValue(v) checks it
 *     when v is the on value.
 *   - Single checkbox (SINGLE_CHECKBOX): div.apex-item-single-checkbox holding
 *     input[type=hidden]#ITEM_HIDDENVALUE[name=ITEM], input[type=checkbox]#ITEM with value and
 *     data-unchecked-value, and its label; the hidden input keeps the value; setValue of a
 *     value that is neither sets the unchecked one.
 *   - Select One / Select Many (SEARCHABLE_SELECT): the web component <a-select id=ITEM> with
 *     <a-option value> children, multi-value="true" for Select Many (values kept separated by
 *     ":"); setValue of a value no option carries is kept all the same (an invalid value, as
 *     typing a display text into a Select One leaves it), isValid() tells.
 * A user's click on a switch or a check box toggles it; APEX's change handling follows.
 */
(function () {
  "use strict";

  const toArray = (v) => {
    if (v == null || v === "") return [];
    if (Array.isArray(v)) return v.map(String);
    return String(v).split(":");
  };

  function toggleImpl(offAttr) {
    return (node) => {
      const on = () => node.getAttribute("value") || "Y";
      const off = () => node.getAttribute(offAttr) || "N";
      const hidden = document.getElementById(node.id + "_HIDDENVALUE");
      const sync = () => { if (hidden) hidden.value = node.checked ? on() : off(); };
      node.addEventListener("change", sync);
      sync();
      return {
        get: () => (node.checked ? on() : off()),
        set: (v) => {
          node.checked = String(v) === on();
          sync();
        },
        // Shown as its label for that state when it has one (a switch's data-on-label /
        // data-off-label), else as its value.
        shown: () => (node.checked ? node.getAttribute("data-on-label") || on()
          : node.getAttribute("data-off-label") || off()),
        changeNode: node,
      };
    };
  }

  // <a-select>: the value is an attribute of the element; its options are <a-option>s.
  class ASelect extends HTMLElement {
    get multi() { return this.getAttribute("multi-value") === "true"; }
    get options() { return Array.from(this.querySelectorAll("a-option")); }
    get value() { return this.getAttribute("value") || ""; }
    set value(v) { this.setAttribute("value", v == null ? "" : String(v)); }
    get disabled() { return this.hasAttribute("disabled"); }
    set disabled(b) { this.toggleAttribute("disabled", !!b); }
    connectedCallback() {
      if (this._shown) return;
      this._shown = document.createElement("span");
      this._shown.className = "a-Select-value";
      this.prepend(this._shown);
      this.render();
    }
    render() {
      if (!this._shown) return;
      const texts = toArray(this.value).map((v) => {
        const o = this.options.find((x) => x.getAttribute("value") === v);
        return o ? o.textContent : v;
      });
      this._shown.textContent = texts.join(", ");
    }
  }
  if (!customElements.get("a-select")) customElements.define("a-select", ASelect);

  function selectImpl(node) {
    return {
      get: () => (node.multi ? toArray(node.value) : node.value),
      set: (v) => {
        node.value = node.multi ? toArray(v).join(":") : (v == null ? "" : String(v));
        node.render();
      },
      displayFor: (v) => toArray(v).map((x) => {
        const o = node.options.find((opt) => opt.getAttribute("value") === x);
        return o ? o.textContent : x;
      }).join(", "),
      shown: () => (node._shown ? node._shown.textContent : node.value),
      isValid: () => toArray(node.value).every((v) => node.options.some((o) => o.getAttribute("value") === v)),
    };
  }

  const style = document.createElement("style");
  style.textContent = "a-select{display:inline-block;min-width:14em;min-height:1.8em;border:1px solid #b9c1cc;" +
    "border-radius:4px;padding:2px 6px;background:#fff}a-select a-option{display:none}" +
    ".a-Switch{display:inline-flex;align-items:center;gap:6px}";
  document.head.appendChild(style);

  window.__zvTipos = (window.__zvTipos || []).concat([
    { kind: "switch", itemType: "CHECKBOX", match: (n) => n.matches("input.apex-item-yes-no"),
      impl: toggleImpl("data-off-value") },
    { kind: "singlecheckbox", itemType: "SINGLE_CHECKBOX",
      match: (n) => n.matches(".apex-item-single-checkbox input[type=checkbox]"), impl: toggleImpl("data-unchecked-value") },
    { kind: "aselect", itemType: "SEARCHABLE_SELECT", match: (n) => n.tagName === "A-SELECT", impl: selectImpl },
  ]);
})();
