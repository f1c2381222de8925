// Sets a switch or a single check box (one check box input #ITEM whose on value is its
// `value` and whose off value is its data-off-value / data-unchecked-value) on or off.
// Argument: [item id, on, text]: `on` true or false, or null to take `text` as one of the
// item's own values. Changes nothing when `text` is neither of them. APEX's setValue fires
// the item's change handling itself; without APEX the box is set and a change fired.
// Returns {estado, ligado, desligado}: 'ok', 'nao_aplicado' (the item does not hold the value
// after it), 'invalido' (the text is neither value) or 'sem_item'.
([id, on, text]) => {
  const el = document.getElementById(id);
  if (!el) return { estado: 'sem_item' };
  const ligado = el.getAttribute('value') || 'on';
  const desligado = el.getAttribute('data-off-value') ?? el.getAttribute('data-unchecked-value') ?? '';
  let want;
  if (on === true || on === false) want = on ? ligado : desligado;
  else if (text === ligado || text === desligado) want = text;
  else return { estado: 'invalido', ligado, desligado };
  const it = window.apex && apex.item ? apex.item(id) : null;
  let got;
  if (it && it.node) {
    it.setValue(want);
    got = it.getValue();
  } else {
    el.checked = want === ligado;
    el.dispatchEvent(new Event('change', { bubbles: true }));
    got = el.checked ? ligado : desligado;
  }
  return { estado: String(got) === want ? 'ok' : 'nao_aplicado', ligado, desligado };
}
