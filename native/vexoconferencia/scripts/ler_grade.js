// Reads the rows a grid region shows, for the receipt; changes nothing.
// Argument: [addSelector, columns], columns: [[itemId, kind, wanted]], `wanted` holding per
// record the value the data gives (null when blank). The region is the one holding the
// grid's add button; its rows are the table rows with cells, its headers the table headers.
// For each column: the header index that carries the item's label (-1 when none does) and,
// per record, the text the grid should show for the wanted value: the value itself, the
// option's text for a select list, the option's display for a check box (false when the
// group has no such option), the row's text of the item's popup LOV (null when the page does
// not hold it).
// An Interactive Grid (the add button in div.a-IG#<static id>_ig) is read through its model
// instead, as APEX holds it: apex.region(id).widget().interactiveGrid("getViews", "grid"),
// its columns (elementId: the column item's id; property: the model field) and its records
// (deleted ones, and auto-inserted ones never edited, left out; a value {v, d} read by its
// display d, or, for a popup LOV whose rows the page does not hold, by its return value v).
// Then `rows` has one cell per requested column, `index` is the column's position in the
// request (-1: no such column) and `unsaved` tells whether the model has changes not saved.
// A switch or single check box column (kind 'switch' / 'checkbox') also gives the item's own
// on and off values (on, off) and what a row shows for each (onShown, offShown): in a table
// its label for that state when it has one (data-on-label / data-off-label), else the value;
// in an Interactive Grid's model the value.
// The add button's selector may end in Playwright's :has-text('...'), which the document's own
// querySelector does not know: then the first element the rest matches whose text holds it.
// A third element `topo` true: the page is a dialog page whose popup LOVs' dialogs APEX built
// in the top document, where their rows are read.
([addSel, columns, topo]) => {
  const find = (sel) => {
    try {
      return document.querySelector(sel);
    } catch (e) {
      const m = /^(.*):has-text\((['"])(.*)\2\)$/.exec(String(sel).trim());
      if (!m) return null;
      try {
        return Array.from(document.querySelectorAll(m[1].trim() || '*')).find((el) => el.textContent.includes(m[3])) || null;
      } catch (e2) {
        return null;
      }
    }
  };
  const add = find(addSel);
  if (!add) return { readable: false, reason: 'add' };
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

  const toggle = (id, kind, labels) => {
    const el = kind === 'switch' || kind === 'checkbox' ? document.getElementById(id) : null;
    if (!el) return {};
    const on = el.getAttribute('value') || 'on';
    const off = el.getAttribute('data-off-value') ?? el.getAttribute('data-unchecked-value') ?? '';
    return {
      on, off,
      onShown: (labels && el.getAttribute('data-on-label')) || on,
      offShown: (labels && el.getAttribute('data-off-label')) || off,
    };
  };

  const ig = add.closest('.a-IG');
  const igRegion = ig && /_ig$/.test(ig.id) && window.apex && typeof apex.region === 'function'
    ? apex.region(ig.id.slice(0, -'_ig'.length)) : null;
  if (igRegion && typeof igRegion.widget === 'function') {
    const view = igRegion.widget().interactiveGrid('getViews', 'grid');
    if (!view || !view.model) return { readable: false, reason: 'model' };
    const model = view.model;
    const gridColumns = view.getColumns();
    const wanted = columns.map(([id, kind, w]) => ({
      column: gridColumns.find((c) => c.elementId === id) || null, kind,
      shown: w.map((x) => shownFor(id, kind, x)), raw: w,
    }));
    const records = [];
    model.forEach((rec, i, recId) => {
      const meta = model.getRecordMetadata(recId) || {};
      if (meta.deleted || meta.agg || (meta.autoInserted && !meta.updated)) return;
      records.push(rec);
    });
    const base = Math.max(0, records.length - (wanted.length ? wanted[0].raw.length : 0));
    const text = (v) => (v === null || v === undefined ? '' : String(v));
    const rows = records.map((rec, r) => wanted.map((c) => {
      if (!c.column) return '';
      const v = model.getValue(rec, c.column.property);
      if (v === null || typeof v !== 'object') return text(v);
      const shown = c.shown[r - base];
      // A popup LOV whose rows are not in the page: its return value, compared with the data's.
      if (c.kind === 'popuplovid' && (shown === null || shown === undefined)) return text(v.v);
      return text(v.d);
    }));
    return {
      readable: true,
      headers: gridColumns.map((c) => c.heading || c.label || ''),
      rows,
      unsaved: typeof model.isChanged === 'function' && !!model.isChanged(),
      columns: wanted.map((c, j) => ({
        index: c.column ? j : -1,
        shown: c.shown.map((x, i) => (c.kind === 'popuplovid' && (x === null || x === undefined) ? c.raw[i] : x)),
        ...toggle(columns[j][0], c.kind, false),
      })),
    };
  }

  const region = add.closest('.t-Region, [role=region], section');
  if (!region) return { readable: false, reason: 'region' };
  const headerRow = Array.from(region.querySelectorAll('tr')).find((tr) => tr.querySelector('th'));
  const headers = headerRow ? Array.from(headerRow.querySelectorAll('th')).map((th) => th.textContent.trim()) : [];
  const rows = Array.from(region.querySelectorAll('tbody tr'))
    .filter((tr) => tr.querySelector('td'))
    .map((tr) => Array.from(tr.querySelectorAll('td')).map((td) => td.textContent.trim()));
  return {
    readable: true,
    headers,
    rows,
    columns: columns.map(([id, kind, wanted]) => ({
      index: indexOf(labelOf(id)),
      shown: wanted.map((w) => shownFor(id, kind, w)),
      ...toggle(id, kind, true),
    })),
  };
}
