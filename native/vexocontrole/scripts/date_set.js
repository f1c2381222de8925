// Hands a date to a date picker item as text, exactly as given. Argument: [selector, value].
// With APEX, apex.item(id).setValue(value) stores it and runs the item's change handling
// (the 22.2+ picker writes its inner input); without APEX the element's own value is set
// and one "change" is fired.
// The 22.2+ picker's element (<a-date-picker>) is never a disabled control to the browser,
// whatever the item's state: for it the item (APEX's isDisabled, or else its inner input)
// tells whether it is disabled, and a disabled one is left as it is: the script then
// returns 'disabled'. It returns nothing otherwise.
([selector, value]) => {
  const id = selector.replace('#', '');
  const it = window.apex && apex.item ? apex.item(id) : null;
  const el = document.getElementById(id);
  if (el && el.localName === 'a-date-picker') {
    const input = el.querySelector('input');
    const disabled = it && it.node && typeof it.isDisabled === 'function'
      ? it.isDisabled() : !!(input && input.disabled);
    if (disabled) return 'disabled';
  }
  if (it) {
    it.setValue(value);
    return;
  }
  if (el) {
    el.value = value;
    el.dispatchEvent(new Event('change', { bubbles: true }));
  }
}
