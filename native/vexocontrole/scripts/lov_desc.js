// Sets a popup LOV item from the first list row (.a-IconList-item, anywhere in the document)
// whose trimmed text equals `disp` or `val` ignoring case, or whose data-id equals `val`.
// Argument: [itemId, val, disp], texts. Needs apex.item; an unknown id gives APEX's
// placeholder item, whose node is false: that is no item.
([itemId, val, disp]) => {
  const rows = document.querySelectorAll('.a-IconList-item');
  let foundId = null;
  let foundDisp = null;
  for (const row of rows) {
    const text = row.textContent.trim();
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
