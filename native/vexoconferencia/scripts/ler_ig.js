// The page's Interactive Grids, for writing a mapping; reads the page and changes nothing.
// For each div.a-IG#<static id>_ig: its element id (the region the row-editor scan of
// ler_itens.js finds around the toolbar's buttons), the region's static id and title, the
// selectors of its toolbar's Add Row and Save buttons by their data-action (null when the
// toolbar has no such button), and its column items: the ids the grid view's columns give
// (apex.region(id).widget().interactiveGrid("getViews", "grid").getColumns(), elementId),
// or, where APEX does not answer, the items of its column item container.
() => Array.from(document.querySelectorAll('.a-IG[id$="_ig"]')).map((ig) => {
  const id = ig.id.slice(0, -'_ig'.length);
  const region = document.getElementById(id);
  const heading = region ? region.querySelector('.t-Region-title, h1, h2, h3, h4') : null;
  const toolbar = '#' + id + '_ig_toolbar';
  const button = (action) => (document.querySelector(`${toolbar} [data-action="${action}"]`)
    ? `${toolbar} [data-action='${action}']` : null);
  let columns = [];
  try {
    const view = apex.region(id).widget().interactiveGrid('getViews', 'grid');
    columns = view.getColumns().map((c) => c.elementId).filter(Boolean);
  } catch (e) {
    columns = [];
  }
  if (!columns.length) {
    columns = Array.from(ig.querySelectorAll('.a-GV-columnItem')).map((wrap) => {
      const el = Array.from(wrap.querySelectorAll('[id]')).find((n) => !/_HIDDENVALUE$/.test(n.id));
      return el ? el.id : null;
    }).filter(Boolean);
  }
  return {
    ig: ig.id, regiao: id, titulo: heading ? heading.textContent.replace(/\s+/g, ' ').trim() : '',
    add: button('selection-add-row'), save: button('save'), colunas: columns,
  };
})
