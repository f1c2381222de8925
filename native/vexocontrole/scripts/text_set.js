// Sets a text-like item as a user's edit would leave it. Argument: [selector, value].
// Needs only the element; uses apex.item(id).setValue when the page has APEX, with the
// third argument true so APEX fires no change of its own: the events below are the ones
// the page's handlers see, once each. Returns false when the item is a Select One (<a-select>)
// whose options do not carry the value set (it then holds an invalid value); else nothing.
([sel, val]) => {
  const id = sel.replace('#', '');
  const el = document.getElementById(id);
  if (!el) return;
  const item = window.apex && apex.item ? apex.item(id) : null;
  el.readOnly = false;
  el.disabled = false;
  el.removeAttribute('disabled');
  el.value = val;
  if (item) item.setValue(val, null, true);
  for (const type of ['input', 'change', 'blur']) {
    el.dispatchEvent(new Event(type, { bubbles: true }));
  }
  if (el.tagName === 'A-SELECT') {
    const held = String(item && item.node ? item.getValue() : el.value);
    if (!Array.from(el.querySelectorAll('a-option')).some((o) => o.getAttribute('value') === held)) return false;
  }
}
