// Reads one item back for the receipt, as APEX stores it; changes nothing.
// Argument: [selector, itemId, kind, suffix]. The value comes from apex.item(id).getValue()
// when APEX knows the item, else from the element itself (checked options of a group,
// selected options of a multiple select, the element's value). For popup LOVs the display
// value comes along; for radio and check box groups, the value of the option at `suffix`;
// for a switch or a single check box, its own on and off values.
([sel, id, kind, suffix]) => {
  let el = document.getElementById(id);
  if (!el) {
    try { el = document.querySelector(sel); } catch (e) { el = null; }
  }
  const api = window.apex && apex.item ? apex.item(id) : null;
  const known = !!(api && api.node);
  const out = { found: known || !!el, value: null, display: null, option: null, optionFound: false };
  if (!out.found) return out;
  if (known) {
    const v = api.getValue();
    out.value = Array.isArray(v) ? v.slice() : v;
  } else if (el.querySelector && el.querySelector('input[type=radio], input[type=checkbox]')) {
    const checked = Array.from(el.querySelectorAll('input:checked')).map((i) => i.value);
    out.value = el.querySelector('input[type=checkbox]') ? checked : (checked[0] || '');
  } else if (el.tagName === 'SELECT' && el.multiple) {
    out.value = Array.from(el.selectedOptions).map((o) => o.value);
  } else {
    out.value = 'value' in el ? el.value : null;
  }
  if ((kind === 'switch' || kind === 'checkbox') && el) {
    out.on = el.getAttribute('value') || 'on';
    out.off = el.getAttribute('data-off-value') ?? el.getAttribute('data-unchecked-value') ?? '';
  }
  if (kind === 'popuplovid') {
    out.display = known && api.displayValueFor ? api.displayValueFor(out.value) : (el ? el.value : null);
  }
  if (suffix !== null && suffix !== undefined) {
    const opt = document.getElementById(id + '_' + suffix);
    out.optionFound = !!opt;
    out.option = opt ? opt.value : null;
  }
  return out;
}
