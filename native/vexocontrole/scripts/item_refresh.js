// Whether an APEX item is being refreshed (a cascading list whose parent changed: APEX empties
// its options, triggers apexbeforerefresh on it, asks the server, fills the options in and
// triggers apexafterrefresh), and, polled by wait_for_function, when that refresh is over.
// Argument: {item, modo, depois}:
//   modo 'sondar': answers at once; false when nothing refreshes the item, else the number of
//     apexafterrefresh events the item has had so far (the wait's starting point);
//   modo 'esperar': false while the refresh runs; true once the item had an apexafterrefresh
//     past `depois`, or once no request is left in flight and no indicator shows by the item.
// The apexbeforerefresh / apexafterrefresh events are jQuery events (APEX triggers them with
// its jQuery; they bubble, but no DOM event is made): a handler on the document, set up by the
// first call, counts them per element id. Before it was there, the item's refresh shows only
// in what APEX leaves: a request in flight, and the item emptied of its options or its
// loading indicator beside it.
(arg) => {
  const apex = window.apex;
  if (!apex || typeof apex.item !== 'function') return arg.modo === 'sondar' ? false : true;
  const node = apex.item(arg.item).node;
  if (!node) return arg.modo === 'sondar' ? false : true;

  const jq = typeof apex.jQuery === 'function' ? apex.jQuery : null;
  let seen = window.__zvAtualizacoes;
  if (!seen && jq) {
    seen = window.__zvAtualizacoes = {};
    const count = (key) => (e) => {
      const id = e && e.target && e.target.id;
      if (!id) return;
      const r = seen[id] || (seen[id] = { antes: 0, depois: 0 });
      r[key] += 1;
      // A refresh that began before the handler was there ends unmatched.
      if (r.antes < r.depois) r.antes = r.depois;
    };
    jq(document).on('apexbeforerefresh', count('antes')).on('apexafterrefresh', count('depois'));
  }
  const record = seen ? seen[arg.item] : undefined;

  const counters = [apex.jQuery, window.jQuery].filter((q) => q && typeof q.active === 'number');
  const inFlight = () => counters.some((q) => q.active > 0);
  const shown = (el) => el.getClientRects().length > 0 && getComputedStyle(el).visibility !== 'hidden';
  const around = document.getElementById(arg.item + '_CONTAINER') || node.parentElement || node;
  const indicator = () => Array.from(around.querySelectorAll('.u-Processing')).some(shown);
  // Options a user could pick: a list's options with a value, a group's option inputs.
  const emptied = () => {
    if (node.tagName === 'SELECT') return !Array.from(node.options).some((o) => o.value !== '');
    return !node.querySelector('input[type=radio], input[type=checkbox], a-option');
  };

  if (arg.modo === 'sondar') {
    if (record) return record.antes > record.depois && inFlight() ? record.depois : false;
    if (!(inFlight() && (emptied() || indicator()))) return false;
    // Its apexbeforerefresh came before the handler: counted now, so that its end matches it.
    if (seen) seen[arg.item] = { antes: 1, depois: 0 };
    return 0;
  }
  if (record && record.depois > arg.depois) return true;
  return !inFlight() && !indicator();
}
