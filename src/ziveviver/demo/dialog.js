/*
 * dialog.js: the stand-in's modal dialog pages, as APEX opens an edit form from a
 * "Create" button (apex.navigation.dialog).
 *
 * In the top window: the "Novo" button (#NOVO) opens the form as a dialog page: a
 * div#apex_dialog_<n> holding an <iframe title="Novo pedido" width="100%" height="100%">
 * with form.html?pagina=<page>, inside a jQuery UI-like wrapper .ui-dialog.ui-dialog--apex
 * (position fixed, aria-modal="true") over its own overlay. A dialog page's "Novo" opens
 * another dialog on top of it (nested dialogs are all built in the top window). ?novo=1 on
 * the top page opens one dialog page at start-up, as a page that opens its form at once.
 *
 * In a dialog page (the iframe): its "Submeter página" (#SUBMETER) posts the iframe's form by
 * ajax to wwv_flow.accept (a request of the iframe), as apex.page.submit does on a page that
 * reloads only on success: a JSON answer with `errors` is shown on the dialog page
 * (apex.message.showErrors) and the dialog stays open; any other answer with success closes
 * it. With envio=pagina in the top page's address (passed on to its dialog pages) the submit
 * is a full-page POST of the iframe's form to fechar_dialogo.html, which stands for the
 * "Close Dialog" process's answer: the page that closes the dialog; a server that refuses the
 * submit answers with the form again and its errors, in the dialog. Escape anywhere in the
 * iframe cancels the dialog. The popup LOVs of its items build their dialogs in the top
 * document (apex_standin.js), as APEX 24.2 does.
 *
 * Closing: the dialog's div is removed; the top window records it in
 * window.__zvDialogos = {abertos: n, fechados: [{n, como: "submetido"|"cancelado"}]} and
 * fires apexafterclosedialog / apexafterclosecanceldialog on its document. The iframe tells
 * the top window by postMessage, so closing works between any two origins.
 *
 * Test API in a dialog page: window.__zv.dialogo = {n, submissoes: [{status, erros?}|{erro}]}.
 */
(function () {
  "use strict";

  const PAGE_OF_DIALOG = 2;
  // How a dialog page submits: by ajax (APEX 24.2's default), or "pagina" (a full-page POST).
  const MODE = new URLSearchParams(location.search).get("envio");

  function dialogUrl() {
    return `form.html?pagina=${PAGE_OF_DIALOG}` + (MODE ? `&envio=${encodeURIComponent(MODE)}` : "");
  }

  // ---------------------------------------------------------------- the top window's side

  function topSide() {
    const state = { abertos: 0, fechados: [] };
    window.__zvDialogos = state;
    const open = new Map(); // n -> {wrap, overlay, frame}

    const style = document.createElement("style");
    style.textContent =
      ".ui-dialog--apex{position:fixed;left:5vw;top:4vh;width:90vw;height:92vh;z-index:900;" +
      "background:#fff;border:1px solid #bcbcbc;box-shadow:0 4px 16px rgba(0,0,0,.25);" +
      "display:flex;flex-direction:column}" +
      ".ui-dialog--apex .ui-dialog-content{flex:1;overflow:hidden}" +
      ".ui-dialog--apex iframe{border:0;display:block}" +
      ".zv-dialogOverlay{z-index:899}";
    document.head.appendChild(style);

    function openDialog(url, title) {
      const n = ++state.abertos;
      const depth = open.size;
      const overlay = document.createElement("div");
      overlay.className = "ui-widget-overlay ui-front zv-dialogOverlay";
      overlay.style.zIndex = String(899 + 2 * depth);
      const wrap = document.createElement("div");
      wrap.className = "ui-dialog ui-corner-all ui-widget ui-widget-content ui-front ui-dialog--apex t-Dialog-page--standard";
      wrap.setAttribute("role", "dialog");
      wrap.setAttribute("aria-modal", "true");
      wrap.setAttribute("aria-labelledby", `ui-id-dlg-${n}`);
      wrap.style.zIndex = String(900 + 2 * depth);
      wrap.innerHTML =
        '<div class="ui-dialog-titlebar ui-corner-all ui-widget-header ui-helper-clearfix">' +
        `<span id="ui-id-dlg-${n}" class="ui-dialog-title"></span>` +
        '<button type="button" class="ui-button ui-corner-all ui-widget ui-button-icon-only ui-dialog-titlebar-close" title="Close">Close</button></div>' +
        `<div id="apex_dialog_${n}" class="ui-dialog-content ui-widget-content"></div>`;
      wrap.querySelector(".ui-dialog-title").textContent = title;
      const frame = document.createElement("iframe");
      frame.src = url;
      frame.title = title;
      frame.width = "100%";
      frame.height = "100%";
      wrap.querySelector(`#apex_dialog_${n}`).appendChild(frame);
      wrap.querySelector(".ui-dialog-titlebar-close").addEventListener("click", () => closeDialog(n, "cancelado"));
      document.body.appendChild(overlay);
      document.body.appendChild(wrap);
      open.set(n, { wrap, overlay, frame });
      return n;
    }

    function closeDialog(n, how) {
      const d = open.get(n);
      if (!d) return;
      open.delete(n);
      d.wrap.remove();
      d.overlay.remove();
      state.fechados.push({ n, como: how });
      const type = how === "submetido" ? "apexafterclosedialog" : "apexafterclosecanceldialog";
      document.dispatchEvent(new CustomEvent(type, { detail: { n } }));
    }

    // A dialog page asks to be closed: it is known by its iframe's window.
    window.addEventListener("message", (e) => {
      const m = e.data;
      if (!m || m.zvDialogo !== "fechar") return;
      for (const [n, d] of open) {
        if (d.frame.contentWindow === e.source) closeDialog(n, m.como);
      }
    });

    return openDialog;
  }

  // ---------------------------------------------------------------- a dialog page's side

  function dialogSide() {
    const zv = window.__zv || (window.__zv = {});
    const info = { submissoes: [] };
    zv.dialogo = info;
    const close = (how) => window.parent.postMessage({ zvDialogo: "fechar", como: how }, "*");

    document.addEventListener("keydown", (e) => {
      if (e.key === "Escape" && !e.defaultPrevented) close("cancelado");
    });

    // The page submit of a dialog page: the iframe's form posted to wwv_flow.accept; an
    // answer with errors shows them here and keeps the dialog, else the "Close Dialog"
    // process answers and the dialog closes. A full-page POST leaves the answer to the page
    // that comes back (fechar_dialogo.html closes the dialog; the form again shows its errors).
    document.addEventListener("click", (e) => {
      if (e.target && e.target.closest && e.target.closest("#SUBMETER")) {
        e.stopPropagation();
        const form = document.getElementById("wwvFlowForm");
        if (form && form.elements.p_request) form.elements.p_request.value = "SUBMIT";
        if (form && MODE === "pagina") {
          form.action = "fechar_dialogo.html" + location.search;
          form.submit();
          return;
        }
        const body = new URLSearchParams(form ? new FormData(form) : undefined);
        fetch("wwv_flow.accept", { method: "POST", body }).then(
          (r) => r.text().then((text) => {
            let answer = null;
            try { answer = JSON.parse(text); } catch (err) { /* not JSON: the process's own answer */ }
            const errors = r.ok && answer && answer.errors;
            info.submissoes.push(errors ? { status: r.status, erros: errors } : { status: r.status });
            if (errors) {
              const message = window.apex && window.apex.message;
              if (message) { message.clearErrors(); message.showErrors(errors); }
            } else if (r.ok) {
              close("submetido");
            }
          }),
          (err) => { info.submissoes.push({ erro: String((err && err.message) || err) }); });
      }
    }, true);
  }

  // ---------------------------------------------------------------- start up

  // The top window's opener, reached from any page of the window (the top's own or a
  // dialog page's), as apex.navigation.dialog reaches the top APEX.
  let opener = null;
  function topOpener() {
    try {
      if (window.top !== window) return window.top.__zvAbrirDialogo || null;
    } catch (e) {
      return null; // another origin: a dialog page then opens nothing further
    }
    return opener;
  }

  function init() {
    if (window.top === window) {
      opener = topSide();
      window.__zvAbrirDialogo = opener;
      if (new URLSearchParams(location.search).get("novo") === "1") {
        opener(dialogUrl(), "Novo pedido");
      }
    } else {
      dialogSide();
    }
    const novo = document.getElementById("NOVO");
    if (novo) {
      novo.addEventListener("click", () => {
        const openIt = topOpener();
        if (openIt) openIt(dialogUrl(), "Novo pedido");
      });
    }
  }

  if (document.readyState === "loading") document.addEventListener("DOMContentLoaded", init);
  else init();
})();
