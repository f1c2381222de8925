// Closes the popup LOV dialog that is open now (the last rendered one, as the row search
// picks it) with its own titlebar close button, which sits in the .ui-dialog wrapper.
// No argument. Returns true when it clicked a close button.
() => {
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
