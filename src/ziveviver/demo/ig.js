/*
 * ig.js: editable Interactive Grid regions for the stand-in page (loaded after
 * apex_standin.js, whose items, jQuery-like helper and simulated server it uses).
 *
 * What it imitates of APEX's Interactive Grid (its grid view, model and toolbar):
 *   - Region div#<static id> > div.a-IG#<static id>_ig > toolbar #<static id>_ig_toolbar with
 *     button[data-action="selection-add-row"] and button[data-action="save"], the grid view
 *     (header row and data rows tr.a-GV-row[data-id], each data row a th row header beside its
 *     td cells) and div.a-GV-columnItemContainer.u-vh holding the column items, each in a
 *     div.a-GV-columnItem (data-property: the model field; data-heading: the column heading).
 *     The column items are ordinary APEX items whose ids are the columns' static ids.
 *   - Only the cell being edited holds its column item: activating a cell (a click on it in
 *     edit mode, a double click, or the view's gotoCell) moves the item into the cell;
 *     leaving it moves the item back into the hidden container. While a row is in edit mode a
 *     change of a column item is written into the active record.
 *   - Add Row inserts a record synchronously (tr.a-GV-row.is-inserted) after the selected row
 *     (at the start when none is), then, on a 0 ms timer, enters edit mode with the new row's
 *     first editable cell active.
 *   - Save: finishEditing, then the model's save request (counted in apex.jQuery.active, a
 *     region spinner after 200 ms, the save button disabled meanwhile); its answer clears the
 *     changes and the event "interactivegridsave" is triggered on the a-IG element. With
 *     nothing changed nothing is sent and no event fires.
 *   - An empty grid shows one auto-inserted row, which counts as a change, and is saved, only
 *     once edited.
 *   - Model: apex.region(id).widget().interactiveGrid("getViews", "grid").model with forEach,
 *     getValue, setValue, getRecord, getRecordId, getRecordMetadata, insertNewRecord,
 *     isChanged and getChanges; select list, popup LOV and check box columns hold {v, d}.
 *
 * ?edicaoMs=MS: Add Row enters edit mode MS milliseconds after the insert instead of on a 0 ms
 * timer (a grid slow to start editing its new row).
 *
 * Test API: window.__zv.ig[<static id>]
 *   eventos        [{tipo: "inserir" | "ativar" | "mudanca" | "gravar", coluna, nativo}]
 *                  what happened, in order (a change: native DOM event or helper trigger)
 *   gravados       the records each answered save sent: [{field: value}]
 *   pedidos        save requests sent
 *   alterado()     the model's unsaved-changes flag
 *   linhas()       the records the model holds, {field: value} (auto-inserted untouched
 *                  rows included)
 */
(function () {
  "use strict";

  const EDITABLE_CELL = "td.a-GV-cell";
  const EDIT_DELAY_MS = Number(new URLSearchParams(location.search).get("edicaoMs")) || 0;

  // The model of one grid: records are objects keyed by field, identified by a generated id.
  function Model(name, fields) {
    this.name = name;
    this.fields = fields;
    this._data = [];
    this._changes = [];
    this._meta = new Map();
    this._ids = new WeakMap();
    this._seq = 0;
  }
  Model.prototype.getRecordId = function (rec) { return this._ids.get(rec); };
  Model.prototype.getRecord = function (id) {
    return this._data.find((r) => this._ids.get(r) === String(id)) || null;
  };
  Model.prototype.getRecordMetadata = function (id) { return this._meta.get(String(id)) || null; };
  Model.prototype.forEach = function (fn, thisArg) {
    this._data.slice().forEach((rec, i) => fn.call(thisArg, rec, i, this._ids.get(rec)));
  };
  Model.prototype.getValue = function (rec, field) { return rec[field]; };
  Model.prototype.setValue = function (rec, field, value) {
    rec[field] = value;
    const meta = this._meta.get(this._ids.get(rec));
    meta.updated = true;
    if (!this._changes.includes(meta)) this._changes.push(meta);
  };
  Model.prototype.insertNewRecord = function (parent, after, auto) {
    const rec = {};
    this.fields.forEach((f) => { rec[f] = ""; });
    const id = "t" + ++this._seq;
    this._ids.set(rec, id);
    const meta = { inserted: true, record: rec };
    if (auto) meta.autoInserted = true;
    this._meta.set(id, meta);
    this._changes.push(meta);
    const at = after ? this._data.indexOf(after) + 1 : 0;
    this._data.splice(at, 0, rec);
    return id;
  };
  Model.prototype.isChanged = function () {
    return this._changes.some((m) => !(m.autoInserted && !m.updated));
  };
  Model.prototype.getChanges = function () { return this._changes; };

  function start() {
    const zv = window.__zv;
    const { $, registerItem, serverCall, delayLinger, spinner } = zv.standin;
    zv.ig = {};
    zv.saved.ig = {};
    const regions = {};
    document.querySelectorAll(".a-IG").forEach((ig) => {
      const staticId = ig.id.replace(/_ig$/, "");
      regions[staticId] = interactiveGrid(staticId, ig);
    });
    if (window.apex) {
      const other = window.apex.region;
      window.apex.region = (id) => regions[id] || (typeof other === "function" ? other(id) : null);
    }

    function interactiveGrid(staticId, igEl) {
      const region = document.getElementById(staticId);
      const toolbar = document.getElementById(staticId + "_ig_toolbar");
      const addBtn = toolbar.querySelector('button[data-action="selection-add-row"]');
      const saveBtn = toolbar.querySelector('button[data-action="save"]');
      const container = igEl.querySelector(".a-GV-columnItemContainer");
      const columns = Array.from(container.querySelectorAll(".a-GV-columnItem")).map((wrap) => {
        // The item's own element (a popup LOV's hidden return-value input comes first).
        const node = Array.from(wrap.querySelectorAll("[id]")).find((el) => !/_HIDDENVALUE$/.test(el.id));
        const item = registerItem(node.id);
        return {
          property: wrap.dataset.property, heading: wrap.dataset.heading, elementId: node.id,
          item, wrap, lov: item.kind === "select" || item.kind === "popuplov" || item.kind === "checkbox",
        };
      });
      const model = new Model(staticId, columns.map((c) => c.property));
      const record = { eventos: [], gravados: [], pedidos: 0 };
      zv.ig[staticId] = record;
      zv.saved.ig[staticId] = [];
      const st = { editMode: false, activeRecord: null, activeCell: null, selected: null };
      const busy = delayLinger(() => {
        st.spin = spinner(false);
        region.appendChild(st.spin);
      }, () => { if (st.spin) st.spin.remove(); st.spin = null; });

      // ------------------------------------------------------------ the grid view
      const view$ = document.createElement("div");
      view$.className = "a-GV";
      view$.id = staticId + "_ig_grid_vc";
      view$.innerHTML =
        '<div class="a-GV-hdr"><table class="a-GV-table" role="presentation"><thead><tr class="a-GV-row">' +
        '<th class="a-GV-header a-GV-selHeader"><span class="u-vh">Selecionar linha</span></th>' +
        columns.map((c) => `<th class="a-GV-header" role="columnheader">${c.heading}</th>`).join("") +
        '</tr></thead></table></div><div class="a-GV-bdy"><table class="a-GV-table" role="grid"><tbody></tbody></table></div>';
      igEl.querySelector(".a-IG-body").appendChild(view$);
      const body = view$.querySelector("tbody");

      const rowOf = (id) => body.querySelector(`tr[data-id="${id}"]`);
      const columnOf = (td) => columns.find((c) => c.property === td.dataset.property);
      const shownValue = (v) => (v && typeof v === "object" ? v.d : v);
      // The value the model keeps for a column item's value: {v, d} for list columns.
      const modelValue = (c) => {
        const v = c.item.getValue();
        const flat = Array.isArray(v) ? v.join(":") : v;
        if (!c.lov) return flat;
        let d = c.item._shown();
        d = Array.isArray(d) ? d.join(", ") : d;
        return { v: flat, d };
      };
      const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);

      function renderCell(td, rec) {
        td.textContent = shownValue(rec[td.dataset.property]) || "";
      }
      function renderRow(rec) {
        const id = model.getRecordId(rec);
        const meta = model.getRecordMetadata(id);
        const tr = document.createElement("tr");
        tr.className = "a-GV-row" + (meta && meta.inserted ? " is-inserted" : "");
        tr.dataset.id = id;
        tr.setAttribute("role", "row");
        tr.innerHTML = '<th class="a-GV-selHeader" role="rowheader"><span class="u-selector"></span></th>' +
          columns.map((c) => `<td class="a-GV-cell" role="gridcell" tabindex="-1" data-property="${c.property}"></td>`).join("");
        tr.querySelectorAll("td").forEach((td) => renderCell(td, rec));
        return tr;
      }
      function renderAll() {
        body.innerHTML = "";
        model._data.forEach((rec) => body.appendChild(renderRow(rec)));
      }

      // ------------------------------------------------------------ editing
      // A column item's value into the active record (the grid's change handling).
      function setActiveRecordValue(c) {
        if (!st.activeRecord) return;
        const v = modelValue(c);
        if (same(v, st.activeRecord[c.property])) return;
        model.setValue(st.activeRecord, c.property, v);
      }
      function deactivateCell() {
        const td = st.activeCell;
        if (!td) return;
        const c = columnOf(td);
        setActiveRecordValue(c);
        container.appendChild(c.wrap);
        td.classList.remove("is-active");
        st.activeCell = null;
        renderCell(td, st.activeRecord);
      }
      function deactivateRow() {
        deactivateCell();
        if (!st.activeRecord) return;
        const tr = rowOf(model.getRecordId(st.activeRecord));
        if (tr) tr.classList.remove("is-active");
        st.activeRecord = null;
      }
      // The record's values into every column item, as APEX sets them (change suppressed).
      function activateRow(tr) {
        const rec = model.getRecord(tr.dataset.id);
        if (st.activeRecord === rec) return;
        deactivateRow();
        columns.forEach((c) => {
          const v = rec[c.property];
          const flat = v && typeof v === "object" ? v.v : v;
          c.item.setValue(c.lov && c.item.kind === "checkbox" ? String(flat || "").split(":").filter(Boolean) : flat,
            v && typeof v === "object" ? v.d : undefined, true);
        });
        st.activeRecord = rec;
        tr.classList.add("is-active");
      }
      function activateCell(td) {
        const tr = td.parentElement;
        select(tr);
        if (!st.editMode) return;
        if (st.activeCell === td) return;
        activateRow(tr);
        deactivateCell();
        const c = columnOf(td);
        td.textContent = "";
        td.appendChild(c.wrap);
        td.classList.add("is-active");
        st.activeCell = td;
        record.eventos.push({ tipo: "ativar", coluna: c.elementId });
        const focusable = c.wrap.querySelector("input:not([type=hidden]), select, textarea");
        if (focusable) focusable.focus();
      }
      function select(tr) {
        body.querySelectorAll("tr.is-selected").forEach((r) => r.classList.remove("is-selected"));
        tr.classList.add("is-selected");
        st.selected = model.getRecord(tr.dataset.id);
      }
      function setEditMode(on) {
        if (!on) deactivateRow();
        st.editMode = !!on;
        igEl.querySelector(".a-GV").classList.toggle("a-GV--editMode", st.editMode);
      }
      function gotoCell(id, property) {
        const tr = rowOf(id);
        if (!tr) return;
        const td = property ? tr.querySelector(`td[data-property="${property}"]`) : tr.querySelector(EDITABLE_CELL);
        if (td) activateCell(td);
      }
      function finishEditing() {
        deactivateCell();
        return Promise.resolve();
      }

      columns.forEach((c) => {
        $(c.wrap).on("change", (e) => {
          if (!st.editMode || !st.activeRecord) return;
          record.eventos.push({ tipo: "mudanca", coluna: c.elementId, nativo: !e.isTrigger });
          setActiveRecordValue(c);
        });
      });
      body.addEventListener("click", (e) => {
        const td = e.target.closest(EDITABLE_CELL);
        if (td && td !== st.activeCell) activateCell(td);
        else if (!td && e.target.closest("tr")) select(e.target.closest("tr"));
      });
      body.addEventListener("dblclick", (e) => {
        const td = e.target.closest(EDITABLE_CELL);
        if (!td) return;
        setEditMode(true);
        activateCell(td);
      });

      // ------------------------------------------------------------ the actions
      function addRow() {
        const id = model.insertNewRecord(null, st.selected);
        renderAll();
        record.eventos.push({ tipo: "inserir", linha: id });
        setTimeout(() => {
          setEditMode(true);
          gotoCell(id, null);
        }, EDIT_DELAY_MS);
      }
      function save() {
        if (saveBtn.disabled) return;
        finishEditing().then(() => {
          if (!model.isChanged()) return;
          const sent = model.getChanges().filter((m) => !(m.autoInserted && !m.updated));
          const rows = sent.map((m) => Object.assign({}, m.record));
          record.pedidos += 1;
          saveBtn.disabled = true;
          serverCall(500, busy, () => {
            sent.forEach((m) => { delete m.inserted; delete m.updated; delete m.autoInserted; });
            model._changes = model._changes.filter((m) => !sent.includes(m));
            record.gravados.push(rows);
            zv.saved.ig[staticId].push(...rows);
            body.querySelectorAll("tr.is-inserted").forEach((tr) => {
              const meta = model.getRecordMetadata(tr.dataset.id);
              if (!meta || !meta.inserted) tr.classList.remove("is-inserted");
            });
            record.eventos.push({ tipo: "gravar", status: "success" });
            saveBtn.disabled = false;
            $(igEl).trigger("interactivegridsave");
          });
        });
      }
      addBtn.addEventListener("click", () => { if (!addBtn.disabled) addRow(); });
      saveBtn.addEventListener("click", save);

      // "Add row if empty": an empty grid starts with one auto-inserted row.
      model.insertNewRecord(null, null, true);
      renderAll();

      // ------------------------------------------------------------ the region's interface
      const view = {
        model, view$: null, internalIdentifier: staticId + "_ig_grid",
        getColumns: () => columns.map(({ property, heading, elementId }) => ({ property, heading, elementId })),
        getActiveRecordId: () => (st.activeRecord ? model.getRecordId(st.activeRecord) : null),
        finishEditing, setEditMode, focus() {},
      };
      const grid = {
        gotoCell, inEditMode: () => st.editMode, setEditMode, finishEditing,
        getActiveRecordId: view.getActiveRecordId, getActiveCellFromColumnItem: (node) => {
          const td = st.activeCell;
          return td && td.contains(node) ? td : null;
        },
      };
      view.view$ = { grid: (method, ...args) => grid[method](...args), element: view$ };
      const actions = {
        invoke: (name) => ({ save, "selection-add-row": addRow }[name] || (() => {}))(),
      };
      const widget = $(igEl);
      widget.interactiveGrid = (method, ...args) => {
        if (method === "getViews") return args.length ? (args[0] === "grid" ? view : undefined) : { grid: view };
        if (method === "getCurrentView") return view;
        if (method === "getActions") return actions;
        return undefined;
      };
      Object.assign(record, {
        alterado: () => model.isChanged(),
        linhas: () => model._data.map((rec) => Object.assign({}, rec)),
      });
      return { type: "InteractiveGrid", element: $(region), widget: () => widget, call: widget.interactiveGrid };
    }
  }

  if (document.readyState === "loading") document.addEventListener("DOMContentLoaded", start);
  else start();
})();
