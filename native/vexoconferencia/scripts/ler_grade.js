// Reads the rows a grid region shows, for the receipt; changes nothing.
// Argument: [addSelector, columns], columns: [[itemId, kind, wanted]], `wanted` holding per
// record the value the data gives (null when blank). The region is the one holding the
// grid's add button; its rows are the table rows with cells, its headers the table headers.
// For each column: the header index that carries the item's label (-1 when none does) and,
// per record, the text the grid should show for the wanted value: the value itself, the
// option's text for a select list, the option's display for a check box (false when the
// group has no such option), the row's text of the item's popup LOV (null when the page does
// not hold it). A third element `topo` true: the page is a dialog page whose popup LOVs'
// dialogs APEX built in the top document, where their rows are read.
([addSel, columns, topo]) => {
  let add = null;
  try { add = document.querySelector(addSel); } catch (e) { add = null; }
  if (!add) return { readable: false, reason: 'add' };
  const region = add.closest('.t-Region, [role=region], section');
  if (!region) return { readable: false, reason: 'region' };
  const headerRow = Array.from(region.querySelectorAll('tr')).find((tr) => tr.querySelector('th'));
  const headers = headerRow ? Array.from(headerRow.querySelectorAll('th')).map((th) => th.textContent.trim()) : [];
  const rows = Array.from(region.querySelectorAll('tbody tr'))
    .filter((tr) => tr.querySelector('td'))
    .map((tr) => Array.from(tr.querySelectorAll('td')).map((td) => td.textContent.trim()));
  const norm = (s) => String(s || '').trim().toLowerCase();
  const labelOf = (id) => {
    const byId = document.getElementById(id + '_LABEL');
    if (byId) return byId.textContent.trim();
    const lab = document.querySelector(`label[for="${id}"], label[for="${id}_input"]`);
    return lab ? lab.textContent.trim() : '';
  };
  const indexOf = (label) => {
    const l = norm(label);
    if (!l) return -1;
    const exact = headers.findIndex((h) => norm(h) === l);
    if (exact >= 0) return exact;
    return headers.findIndex((h) => {
      const n = norm(h);
      return !!n && (n.startsWith(l) || l.startsWith(n));
    });
  };
  const shownFor = (id, kind, w) => {
    if (w === null || w === undefined) return null;
    if (kind === 'dropdownlist') {
      const s = document.getElementById(id);
      const opt = s && s.options ? Array.from(s.options).find((o) => o.value === w) : null;
      return opt ? opt.text.trim() : w;
    }
    if (kind === 'checkboxmultiple') {
      const opt = document.getElementById(id + '_' + w);
      if (!opt) return false;
      if (opt.dataset && opt.dataset.display) return opt.dataset.display;
      const lab = document.querySelector(`label[for="${opt.id}"]`);
      return lab ? lab.textContent.trim() : opt.value;
    }
    if (kind === 'popuplovid') {
      const lovHome = topo ? window.top.document : document;
      const li = Array.from(lovHome.querySelectorAll('.a-IconList-item')).find((r) => {
        const dlg = r.closest('.a-PopupLOV-dialog');
        return r.getAttribute('data-id') === w && dlg && dlg.id.endsWith('_' + id + '_dlg');
      });
      return li ? li.textContent.trim() : null;
    }
    return w;
  };
  return {
    readable: true,
    headers,
    rows,
    columns: columns.map(([id, kind, wanted]) => ({
      index: indexOf(labelOf(id)),
      shown: wanted.map((w) => shownFor(id, kind, w)),
    })),
  };
}
