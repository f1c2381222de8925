/*
 * Stand-in for apex.message's error display, with the markup APEX's own page renders (the same
 * markup the server writes when it answers a submit with the page and its errors):
 *   page errors   #APEX_ERROR_MESSAGE > .a-Notification.a-Notification--error with a title
 *                 and one li.a-Notification-item per message;
 *   inline errors #ITEM_error_placeholder.a-Form-error.u-visible > div#ITEM_error, and the
 *                 item marked .apex-page-item-error, aria-invalid="true".
 * showErrors([{type: "error", location: "page"|"inline"|[both], pageItem, message}]) and
 * clearErrors() are set on window.apex once apex_standin.js has made it.
 */
(function () {
  "use strict";

  function placeholder(id, after) {
    let el = document.getElementById(id);
    if (!el) {
      el = document.createElement("span");
      el.id = id;
      after.insertAdjacentElement("afterend", el);
    }
    return el;
  }

  function clearErrors() {
    const page = document.getElementById("APEX_ERROR_MESSAGE");
    if (page) { page.textContent = ""; page.className = "u-hidden"; }
    document.querySelectorAll(".a-Form-error").forEach((el) => {
      el.textContent = ""; el.classList.remove("u-visible");
    });
    document.querySelectorAll(".apex-page-item-error").forEach((el) => {
      el.classList.remove("apex-page-item-error"); el.removeAttribute("aria-invalid");
    });
  }

  function showErrors(errors) {
    const list = Array.isArray(errors) ? errors : [errors];
    const onPage = list.filter((e) => [].concat(e.location || "page").includes("page"));
    for (const e of list) {
      const item = e.pageItem && document.getElementById(e.pageItem);
      if (!item || ![].concat(e.location || "page").includes("inline")) continue;
      const slot = placeholder(e.pageItem + "_error_placeholder", item);
      slot.className = "a-Form-error u-visible";
      const msg = document.createElement("div");
      msg.id = e.pageItem + "_error";
      msg.textContent = e.message;
      slot.replaceChildren(msg);
      item.classList.add("apex-page-item-error");
      item.setAttribute("aria-invalid", "true");
    }
    if (!onPage.length) return;
    const form = document.getElementById("wwvFlowForm") || document.body.firstElementChild;
    const box = document.getElementById("APEX_ERROR_MESSAGE") ||
      form.parentNode.insertBefore(document.createElement("span"), form);
    box.id = "APEX_ERROR_MESSAGE";
    box.className = "u-visible";
    const note = document.createElement("div");
    note.className = "a-Notification a-Notification--error";
    const title = document.createElement("div");
    title.className = "a-Notification-title aErrMsgTitle";
    title.textContent = onPage.length === 1 ? "Ocorreu 1 erro" : `Ocorreram ${onPage.length} erros`;
    const ul = document.createElement("ul");
    ul.className = "a-Notification-list htmldbUlErr";
    for (const e of onPage) {
      const li = document.createElement("li");
      li.className = "a-Notification-item htmldbStdErr";
      li.textContent = e.message;
      ul.appendChild(li);
    }
    note.append(title, ul);
    box.replaceChildren(note);
  }

  function install() {
    if (window.apex) window.apex.message = Object.assign(window.apex.message || {}, { showErrors, clearErrors });
  }
  // apex_standin.js makes window.apex on DOMContentLoaded (or at once when loaded later)
  if (document.readyState === "loading") document.addEventListener("DOMContentLoaded", install);
  else install();
})();
