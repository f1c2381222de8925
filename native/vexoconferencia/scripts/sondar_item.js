// Describes what a selector finds, for the pre-flight check; reads the page and changes
// nothing. Argument: [selector, itemId, suffixes]: the item id is the selector without its
// "#"; the suffixes are the option positions the data names (radio and check box groups).
([sel, id, suffixes]) => {
  let found;
  try {
    found = document.querySelectorAll(sel);
  } catch (e) {
    return { invalid: true, error: String((e && e.message) || e) };
  }
  const out = { invalid: false, count: found.length };
  const el = found[0];
  if (el) {
    out.tag = el.tagName.toLowerCase();
    out.type = el.tagName === 'INPUT' ? (el.getAttribute('type') || 'text').toLowerCase() : '';
    out.multiple = !!el.multiple || el.getAttribute('multi-value') === 'true';
    // A switch or a single check box: its own on and off values.
    out.toggle = out.type === 'checkbox' && !!el.closest('.apex-item-yes-no, .apex-item-single-checkbox, .a-Switch');
    out.onValue = out.toggle ? el.getAttribute('value') || 'on' : null;
    out.offValue = out.toggle ? el.getAttribute('data-off-value') ?? el.getAttribute('data-unchecked-value') ?? '' : null;
    out.disabled = !!el.disabled;
    out.visible = !!(el.offsetWidth || el.offsetHeight || el.getClientRects().length);
    out.group = el.matches('.apex-item-radio, .apex-item-checkbox, .radio_group, .checkbox_group');
    const picker = el.closest('a-date-picker');
    out.datePicker = !!picker || el.matches('.apex-item-datepicker, .hasDatepicker, .datepicker');
    out.format = picker ? picker.getAttribute('format')
      : (el.getAttribute('format') || el.getAttribute('data-format') || null);
  }
  out.apex = !!(window.apex && apex.item);
  out.apexItem = out.apex && !!apex.item(id).node;
  // Option inputs id_0, id_1, ... as the group fill addresses them.
  const types = [];
  let n = 0;
  for (; n < 1000; n++) {
    const opt = document.getElementById(id + '_' + n);
    if (!opt) break;
    const t = (opt.type || '').toLowerCase();
    if (!types.includes(t)) types.push(t);
  }
  out.options = n;
  out.optionTypes = types;
  out.suffixes = (suffixes || []).map((s) => {
    const opt = document.getElementById(id + '_' + s);
    return opt ? { exists: true, type: (opt.type || '').toLowerCase(), disabled: !!opt.disabled }
      : { exists: false };
  });
  out.lovButton = !!document.getElementById(id + '_lov_btn');
  return out;
}
