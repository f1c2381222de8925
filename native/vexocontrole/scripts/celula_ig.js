// Cell activation: makes the cell of a column item editable as a user's click on it does, so
// that the item leaves the grid's visually hidden container for the cell of the row being
// edited. Argument: [the IG region's static id, the cell's selector ("#" and the column
// item's id)]. Uses the grid view's columns (elementId: the column item's id; property: the
// model field), its active record and gotoCell, which activates the cell in edit mode.
// Returns 'ativada' (the item is in its cell now), 'fora' (not a column item of this grid:
// nothing done), 'sem_linha' (no row is being edited) or 'escondida' (the grid left the item
// in its hidden container).
([grid, sel]) => {
  const id = String(sel).replace(/#/g, '').trim();
  const view = apex.region(grid).widget().interactiveGrid('getViews', 'grid');
  const column = view ? view.getColumns().find((c) => c.elementId === id) : null;
  if (!column) return 'fora';
  const recordId = view.getActiveRecordId();
  if (recordId === null || recordId === undefined) return 'sem_linha';
  view.view$.grid('gotoCell', recordId, column.property);
  const node = document.getElementById(id);
  return node && !node.closest('.a-GV-columnItemContainer') ? 'ativada' : 'escondida';
}
