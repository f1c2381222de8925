// Finds the row of the open popup LOV whose data-id is `val`, loading further pages with the
// load-more button when needed, and sets the item to that row's id and text.
// Argument: [itemId, val, loadMoreSel] and, under the adaptive pacing, a fourth element
// {limiteMs, intervaloMs}: after each load-more click, instead of pausing 500 ms, wait
// (polling every intervaloMs, for at most limiteMs) until the clicked page's rows are rendered
// or the button is disabled; a wait that runs out still pauses the 500 ms, and the result
// then counts such waits in `esgotadas`. Needs apex.item and APEX's popup LOV markup: the
// dialog (.a-PopupLOV-dialog / .ui-dialog-content inside a .ui-dialog wrapper that holds the
// titlebar close button), rows .a-IconList-item[data-id] (list display) or, in grid display
// (more than one visible column), tr.a-GV-row[data-id] in the results, whose display text is
// the row header cell's (the header row has no data-id). An unknown id gives APEX's
// placeholder item, whose node is false: that is no item. APEX disables the load-more
// button on the last page: a disabled button means there is nothing more to load.
// A fifth element `topo` true: the item is in a dialog page and APEX built its popup's dialog
// in the top document; the dialog, its rows and its load-more button are looked for there,
// among popup LOV dialogs only (the dialog page's own dialog is rendered there too).
async ([itemId, val, loadMoreSel, pacing, topo]) => {
  const INVALID = ['', '0', '0.0', 'None', 'null', 'false', 'undefined'];
  const MAX_SCANS = 15;
  const delay = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

  // The open dialog: the last one in the document that is rendered.
  const home = topo ? window.top.document : document;
  const candidates = home.querySelectorAll(topo ? '.a-PopupLOV-dialog' : '.a-PopupLOV-dialog, .ui-dialog-content, .ui-dialog');
  let dialog = null;
  for (let i = candidates.length - 1; i >= 0; i--) {
    if (candidates[i].offsetParent !== null) {
      dialog = candidates[i];
      break;
    }
  }

  if (!val || INVALID.includes(String(val).trim())) {
    if (dialog) {
      try {
        const close = (dialog.closest('.ui-dialog') || dialog)
          .querySelector('.ui-dialog-titlebar-close, .a-PopupLOV-closeButton');
        if (close) close.click();
      } catch (e) {
        // closing is a courtesy here
      }
    }
    return { success: true, skipped: true };
  }

  const valNorm = String(val).trim();
  const ROWS = '.a-IconList-item, .a-PopupLOV-results tr.a-GV-row[data-id]';
  const rowText = (row) => {
    const head = row.matches('tr') ? row.querySelector('.a-GV-rowHeader') : null;
    return (head || row).textContent.trim();
  };
  const rows = () => Array.from((dialog || home).querySelectorAll(ROWS));
  let ranOut = 0;
  const afterLoadMore = async (btn, before) => {
    if (pacing) {
      const start = Date.now();
      while (Date.now() - start < pacing.limiteMs) {
        await delay(pacing.intervaloMs);
        if (rows().length !== before || btn.disabled || !btn.isConnected) return;
      }
      ranOut += 1;
    }
    await delay(500);
  };
  const counted = (result) => (ranOut ? Object.assign(result, { esgotadas: ranOut }) : result);
  let items = rows();
  for (let scan = 0; scan < MAX_SCANS; scan++) {
    for (const row of items) {
      const dataId = row.getAttribute('data-id');
      if (!dataId || String(dataId).trim() !== valNorm) continue;
      const text = rowText(row);
      const it = apex.item(itemId);
      if (!it || !it.node) continue;
      it.setValue(dataId, text);
      const el = document.getElementById(itemId);
      if (el) el.dispatchEvent(new Event('change', { bubbles: true }));
      return counted({ success: true, foundId: dataId, foundDisp: text });
    }
    const btn = (dialog && dialog.querySelector(loadMoreSel)) || home.querySelector(loadMoreSel);
    if (!btn || btn.disabled) break;
    btn.click();
    await afterLoadMore(btn, items.length);
    items = rows();
  }
  return counted({ success: false, error: 'Item com data-id="' + val + '" nao encontrado' });
}
