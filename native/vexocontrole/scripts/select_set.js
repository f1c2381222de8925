// Sets a select list item through APEX when the browser could not select the option, then
// reads the item back. Argument: [item id, value]. APEX's setValue fires the item's change
// handling itself. Returns whether the item now holds the value (a value no option carries
// leaves APEX's list on another option, or on none); null on a page without APEX, where
// nothing is done.
([id, v]) => {
  const it = window.apex && apex.item ? apex.item(id) : null;
  if (!it) return null;
  it.setValue(v);
  if (typeof it.getValue !== 'function') return null;
  const got = it.getValue();
  return (Array.isArray(got) ? got.join(':') : String(got == null ? '' : got)) === String(v);
}
