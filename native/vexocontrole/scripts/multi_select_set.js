// Sets a multi-value item to a list of values through APEX. Argument: [item id, values].
// Needs APEX on the page: without it the script throws and the caller sees the error.
// Returns whether the item now holds every value (false when some had no option to take
// them); null when it cannot tell (an item APEX does not know).
([id, vals]) => {
  const it = apex.item(id);
  if (!it) return null;
  it.setValue(vals);
  if (!it.node || typeof it.getValue !== 'function') return null;
  const got = it.getValue();
  const have = Array.isArray(got) ? got.map(String) : String(got == null ? '' : got).split(':');
  return vals.every((v) => have.includes(String(v)));
}
