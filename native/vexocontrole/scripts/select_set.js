// Sets a select list item through APEX when the browser could not select the option.
// Argument: [item id, value]. Does nothing on a page without APEX; APEX's setValue fires
// the item's change handling itself.
([id, v]) => {
  const it = window.apex && apex.item ? apex.item(id) : null;
  if (it) it.setValue(v);
}
