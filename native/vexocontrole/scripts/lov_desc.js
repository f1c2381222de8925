// Sets a popup LOV item from the first row whose trimmed text equals `disp` or `val` ignoring
// case, or whose data-id equals `val`. Rows are list rows (.a-IconList-item) and, in grid
// display (more than one visible column), the results' rows tr.a-GV-row[data-id], whose text
// is the row header cell's (the header row has no data-id).
// The rows searched are those of the item's own dialog (APEX names it
// PopupLov_<page>_<item>_dlg and keeps it, hidden, once built), else of the dialog open now:
// dialogs of other popups stay in the page, hidden, and may hold the same text under another
// id. With neither, the whole document is searched.
// Argument: [itemId, val, disp], texts, and `topo` true for an item of a dialog page whose
// popup dialogs APEX built in the top document (looked for there, popup LOV dialogs only).
// Needs apex.item; an unknown id gives APEX's placeholder item, whose node is false: that
// is no item.
([itemId, val, disp, topo]) => {
  const home = topo ? window.top.document : document;
  const suffix = '_' + itemId + '_dlg';
  const own = Array.from(home.querySelectorAll('[id^="PopupLov_"]')).find((d) =>
    d.id.endsWith(suffix) && /^\d+$/.test(d.id.slice('PopupLov_'.length, -suffix.length)));
  const shown = Array.from(home.querySelectorAll(topo ? '.a-PopupLOV-dialog' : '.a-PopupLOV-dialog, .ui-dialog-content, .ui-dialog'))
    .filter((d) => d.offsetParent !== null);
  const scope = own || shown[shown.length - 1] || home;
  const rows = scope.querySelectorAll('.a-IconList-item, .a-PopupLOV-results tr.a-GV-row[data-id]');
  const rowText = (row) => {
    const head = row.matches('tr') ? row.querySelector('.a-GV-rowHeader') : null;
    return (head || row).textContent.trim();
  };
  let foundId = null;
  let foundDisp = null;
  for (const row of rows) {
    const text = rowText(row);
    const dataId = row.getAttribute('data-id');
    const lower = text.toLowerCase();
    if (lower === disp.toLowerCase() || lower === val.toLowerCase() || dataId === val) {
      foundId = dataId;
      foundDisp = text;
      break;
    }
  }
  if (!foundId) {
    return {
      success: false,
      error: 'fCtApexPreencPopupLovDesc -> Item nao encontrado: val="' + val + '", disp="' + disp + '"',
    };
  }
  const it = apex.item(itemId);
  if (it && it.node) {
    it.setValue(foundId, foundDisp);
    const el = document.getElementById(itemId);
    if (el) el.dispatchEvent(new Event('change', { bubbles: true }));
    return { success: true, foundId, foundDisp };
  }
  return { success: false, error: 'fCtApexPreencPopupLovDesc -> apex.item nao encontrado para: ' + itemId };
}
