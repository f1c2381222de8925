// Selects one radio or check box option directly, for options the user cannot click (a
// hidden label, say). Argument: the option input's selector ("#ITEM_n").
// Needs the input; apex.item(ITEM).setValue lets APEX run the group item's change
// handling. APEX's setValue on a check box group replaces the whole selection, so a check
// box group is handed every option that is now ticked, not this one alone.
(sel) => {
  const el = document.querySelector(sel);
  if (!el) return;
  el.checked = true;
  el.dispatchEvent(new Event('change', { bubbles: true }));
  el.dispatchEvent(new Event('click', { bubbles: true }));
  try {
    const itemId = el.id.replace(/_\d+$/, '');
    const item = apex.item(itemId);
    if (!item) return;
    if (el.type === 'checkbox') {
      const ticked = [];
      for (const box of document.querySelectorAll('input[type="checkbox"]')) {
        if (box.checked && box.id.replace(/_\d+$/, '') === itemId && box.id !== itemId) {
          ticked.push(box.value);
        }
      }
      item.setValue(ticked);
    } else {
      item.setValue(el.value);
    }
  } catch (e) {
    // no APEX on the page, or its item refused the value: the input stays set
  }
}
