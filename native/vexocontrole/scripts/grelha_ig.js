// The Interactive Grid a grid's add button belongs to, run on the button's element: the
// region's static id when the button sits in an IG (div.a-IG#<static id>_ig, whose toolbar is
// #<static id>_ig_toolbar) that APEX knows as a region with an interactiveGrid widget; null
// for any other button (a row editor's, a page without APEX).
(button) => {
  const ig = button.closest('.a-IG');
  if (!ig || !/_ig$/.test(ig.id)) return null;
  const id = ig.id.slice(0, -'_ig'.length);
  const apex = window.apex;
  if (!apex || typeof apex.region !== 'function') return null;
  const region = apex.region(id);
  if (!region || typeof region.widget !== 'function') return null;
  const widget = region.widget();
  return widget && typeof widget.interactiveGrid === 'function' ? id : null;
}
