// Sets a multi-value item to a list of values through APEX. Argument: [item id, values].
// Needs APEX on the page: without it the script throws and the caller sees the error.
([id, vals]) => {
  const it = apex.item(id);
  if (it) it.setValue(vals);
}
