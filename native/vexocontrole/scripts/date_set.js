// Hands a date to a date picker item as text, exactly as given. Argument: [selector, value].
// With APEX, apex.item(id).setValue(value) stores it and runs the item's change handling
// (the 22.2+ picker writes its inner input); without APEX the element's own value is set
// and one "change" is fired.
([selector, value]) => {
  const id = selector.replace('#', '');
  const it = window.apex && apex.item ? apex.item(id) : null;
  if (it) {
    it.setValue(value);
    return;
  }
  const el = document.getElementById(id);
  if (el) {
    el.value = value;
    el.dispatchEvent(new Event('change', { bubbles: true }));
  }
}
