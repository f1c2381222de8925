// Describes the page's items for writing a mapping; reads the page and changes nothing.
// The items are those of APEX's registry apex.items (21.2+; 20.x keeps it as an empty legacy
// object) together with those of the item wrappers in the markup (ITEM_CONTAINER, and the
// apex-item-* elements of themes without wrappers): the registry may hold only some of them
// (items never created through apex.item.create, plug-ins). In page order.
// For each item: APEX's item_type when APEX knows it, the markup that tells the widget
// apart, its label, state and current value (option positions for groups). Regions that
// hold an add and a save button are described as possible row editors.
() => {
  const byId = (id) => document.getElementById(id);
  const apexOn = !!(window.apex && typeof apex.item === 'function');
  const version = apexOn && apex.env && apex.env.APEX_VERSION ? String(apex.env.APEX_VERSION) : null;
  const shown = (el) => !!el && el.getClientRects().length > 0 && getComputedStyle(el).visibility !== 'hidden';
  const text = (el) => {
    const c = el.cloneNode(true);
    c.querySelectorAll('.u-vh, .u-VisuallyHidden').forEach((x) => x.remove());
    return c.textContent.replace(/\s+/g, ' ').trim();
  };

  // --- which items, in page order
  const registered = apexOn && apex.items && typeof apex.items === 'object'
    ? Object.keys(apex.items).filter((k) => apex.items[k] && apex.items[k].node) : [];
  const registry = registered.length > 0;
  const found = new Set(registered);
  {
    document.querySelectorAll("[id$='_CONTAINER']").forEach((c) => {
      const id = c.id.slice(0, -'_CONTAINER'.length);
      if (byId(id)) found.add(id);
    });
    const ITEM_CLASS = /\b(apex-item-(text|textarea|select|radio|checkbox|datepicker|popup-lov|number|display-only|autocomplete|yes-no)|text_field|textarea|selectlist|radio_group|checkbox_group|display_only)\b/;
    document.querySelectorAll('[id]').forEach((el) => {
      let id = el.id;
      if (el.tagName === 'A-DATE-PICKER' || el.tagName === 'A-SELECT') { found.add(id); return; }
      if (typeof el.className !== 'string' || !ITEM_CLASS.test(el.className)) return;
      if (/_input$/.test(id) && el.parentElement && el.parentElement.tagName === 'A-DATE-PICKER') return;
      if (/_DISPLAY$/.test(id)) id = id.slice(0, -'_DISPLAY'.length);
      if ((el.type === 'radio' || el.type === 'checkbox') && el.closest('.apex-item-group, .radio_group, .checkbox_group')) return;
      if (byId(id)) found.add(id);
    });
    document.querySelectorAll('input[type=hidden][id]').forEach((el) => {
      if (/^P\d+_/.test(el.id) && !/_HIDDENVALUE$/.test(el.id) && el.name === el.id) found.add(el.id);
    });
  }
  const ids = Array.from(found);
  const nodes = ids.map((id) => [id, byId(id)]).filter(([, n]) => n);
  nodes.sort(([, a], [, b]) => (a === b ? 0 : (a.compareDocumentPosition(b) & Node.DOCUMENT_POSITION_FOLLOWING ? -1 : 1)));

  // --- regions that look like row editors: an add and a save button, and items
  const buttonText = (b) => (b.textContent || b.value || b.getAttribute('aria-label') || '').trim();
  const isAdd = (b) => b.getAttribute('data-action') === 'selection-add-row'
    || /^(adicionar|inserir|incluir|acrescentar|nov[oa]|add)\b/i.test(buttonText(b))
    || /(^|_)(ADD|INSERIR|INCLUIR|ADICIONAR|NOVO)(_|$)/i.test(b.id || '');
  const isSave = (b) => b.getAttribute('data-action') === 'save'
    || /^(salvar|gravar|guardar|save)\b/i.test(buttonText(b))
    || /(^|_)(SAVE|SALVAR|GRAVAR|GUARDAR)(_|$)/i.test(b.id || '');
  const REGION = '.t-Region, .a-IG, [role=region], section';
  const editors = [];
  document.querySelectorAll('button, input[type=button]').forEach((b) => {
    if (!isAdd(b)) return;
    const region = b.closest(REGION);
    if (!region || editors.some((e) => e.node === region)) return;
    const save = Array.from(region.querySelectorAll('button, input[type=button]')).find((x) => x !== b && isSave(x));
    if (!save) return;
    const heading = region.querySelector('.t-Region-title, h1, h2, h3, h4');
    editors.push({
      node: region, id: region.id || null, title: heading ? text(heading) : '',
      add: b.id ? '#' + b.id : null, save: save.id ? '#' + save.id : null,
      addText: buttonText(b), saveText: buttonText(save),
    });
  });
  const editorOf = (el) => editors.findIndex((e) => e.node.contains(el));

  // --- one item
  const labelOf = (id, node) => {
    const lab = document.querySelector(`label[for="${CSS.escape(id)}"]`)
      || document.querySelector(`label[for="${CSS.escape(id + '_input')}"]`) || byId(id + '_LABEL');
    if (lab) return text(lab);
    const by = (node.getAttribute('aria-labelledby') || '').split(/\s+/).map(byId).filter(Boolean);
    if (by.length) return by.map(text).join(' ');
    return (node.getAttribute('aria-label') || '').trim();
  };
  const describe = (id, node) => {
    const api = apexOn ? apex.item(id) : null;
    const known = !!(api && api.node);
    const tag = node.tagName.toLowerCase();
    const inner = tag === 'a-date-picker' ? node.querySelector('input') : null;
    const container = byId(id + '_CONTAINER');
    const options = [];
    for (let n = 0; n < 1000; n++) {
      const opt = byId(id + '_' + n);
      if (!opt) break;
      options.push(opt);
    }
    const hidden = byId(id + '_HIDDENVALUE');
    let value;
    if (known) {
      const v = api.getValue();
      value = Array.isArray(v) ? v.slice() : v;
    } else if (tag === 'select' && node.multiple) {
      value = Array.from(node.selectedOptions).map((o) => o.value);
    } else if (hidden) {
      value = hidden.value;
    } else {
      value = 'value' in node ? node.value : (inner ? inner.value : null);
    }
    const field = inner || node;
    return {
      id,
      itemType: known && api.item_type ? String(api.item_type) : null,
      tag,
      type: tag === 'input' ? (node.getAttribute('type') || 'text').toLowerCase() : '',
      cls: (typeof node.className === 'string' ? node.className : '') + (inner ? ' ' + inner.className : '')
        + (node.closest('.apex-item-single-checkbox') ? ' apex-item-single-checkbox' : ''),
      multiple: !!node.multiple || node.getAttribute('multi-value') === 'true',
      format: node.getAttribute('format') || node.getAttribute('data-format') || null,
      options: options.length,
      optionType: options.length ? (options[0].type || '').toLowerCase() : '',
      checked: options.map((o, i) => (o.checked ? i : -1)).filter((i) => i >= 0),
      hiddenValue: !!hidden,
      lovButton: !!byId(id + '_lov_btn'),
      displayOnly: !!byId(id + '_DISPLAY') || /\b(display_only|apex-item-display-only)\b/.test(node.className || ''),
      readonly: !!(field.readOnly || field.hasAttribute('readonly') || node.hasAttribute('readonly')),
      disabled: known && api.isDisabled ? !!api.isDisabled()
        : !!(field.disabled || (options.length && options.every((o) => o.disabled))),
      visible: (!container || shown(container)) && node.type !== 'hidden' && (shown(field) || shown(node)),
      label: labelOf(id, node),
      value: value === undefined ? null : value,
      editor: editorOf(node),
    };
  };
  const items = nodes.map(([id, node]) => describe(id, node));
  const login = Array.from(document.querySelectorAll('input[type=password]')).some(shown);
  return {
    apex: apexOn, version, registry, login, url: location.href, title: document.title,
    items,
    editors: editors.map(({ node, ...e }) => e),
  };
}
