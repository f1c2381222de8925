// Closes the popup LOV dialog that is open now (the last rendered one, as the row search
// picks it) with its own titlebar close button, which sits in the .ui-dialog wrapper.
// No argument; or [itemId, topo] for an item whose dialog APEX built in the top document
// (topo true): then only that item's own dialog (PopupLov_<page>_<item>_dlg) is closed
// there, should it be shown; the top document's other dialogs (a modal dialog page's
// among them) are left alone. Returns true when it clicked a close button.
(arg) => {
  if (arg) {
    const [itemId, topo] = arg;
    const home = topo ? window.top.document : document;
    const suffix = '_' + itemId + '_dlg';
    const own = Array.from(home.querySelectorAll('.a-PopupLOV-dialog[id^="PopupLov_"]')).find((d) =>
      d.id.endsWith(suffix) && /^\d+$/.test(d.id.slice('PopupLov_'.length, -suffix.length)));
    if (!own || own.offsetParent === null) return false;
    const close = (own.closest('.ui-dialog') || own).querySelector('.ui-dialog-titlebar-close');
    if (!close) return false;
    close.click();
    return true;
  }
  const candidates = document.querySelectorAll('.a-PopupLOV-dialog, .ui-dialog-content, .ui-dialog');
  for (let i = candidates.length - 1; i >= 0; i--) {
    const dialog = candidates[i];
    if (dialog.offsetParent === null) continue;
    const close = (dialog.closest('.ui-dialog') || dialog)
      .querySelector('.ui-dialog-titlebar-close, .a-PopupLOV-closeButton');
    if (!close) return false;
    close.click();
    return true;
  }
  return false;
}
