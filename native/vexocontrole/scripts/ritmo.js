// The adaptive pacing's readiness conditions, one per pause point, polled by
// wait_for_function every 100 ms. Argument: {ponto, marca, item, valor, seletor, grelha,
// quieto}: the point's condition name, a mark unique to this wait (it keys the wait's own state
// between polls), the popup LOV item id and the value it was set to, a selector (grid add:
// the row editor's first mapped cell; grid save: the add button), the static id of the
// Interactive Grid the grid buttons belong to (null for a row editor), and the quiet window
// in ms.
// Returns false while the page is not ready; 'pronto' when it is; 'sem_sinal' when the page
// gives nothing to wait on (no window.apex, an item APEX does not know, no selector), so
// the caller pauses as the literal pacing does; 'valor_diferente' when the popup closed
// without the item holding the value.
// Signals (APEX's own): jQuery's active count of the ajax requests in flight; .u-Processing /
// .is-processing are the processing indicators, shown only 200 ms after a request started;
// the popup LOV dialog PopupLov_<page>_<item>_dlg with its rows, no-data message and the
// item's aria-expanded; an Interactive Grid's view (apex.region(id).widget()
// .interactiveGrid("getViews", "grid")): its active record, edit mode, model changes and the
// "interactivegridsave" event. `topo` true (absent otherwise): the popup LOV's item is in a
// dialog page and APEX built its dialog in the top document, where the popup conditions look.
(arg) => {
  const apex = window.apex;
  if (!apex || typeof apex.item !== 'function') return 'sem_sinal';
  // jQuery's `active` counts the requests apex.server sends until their answers are handled
  // (APEX's own jQuery and the page's).
  const counters = [apex.jQuery, window.jQuery].filter((jq) => jq && typeof jq.active === 'number');
  const counted = counters.length > 0;

  const shown = (el) => {
    if (!el || !el.isConnected) return false;
    const r = el.getBoundingClientRect();
    return r.width > 0 && r.height > 0 && el.ownerDocument.defaultView.getComputedStyle(el).visibility !== 'hidden';
  };
  const spinning = (root) =>
    Array.from((root || document).querySelectorAll('.u-Processing, .is-processing')).some(shown);
  const inFlight = () => counters.some((jq) => jq.active > 0);
  const busy = (root) => inFlight() || spinning(root);
  // PopupLov_<page>_<item>_dlg: the page part is digits, so P1_X's dialog is not Q_P1_X's.
  const dialogOf = (item) => {
    const suffix = '_' + item + '_dlg';
    const home = arg.topo ? window.top.document : document;
    return Array.from(home.querySelectorAll('.a-PopupLOV-dialog[id^="PopupLov_"]')).find((d) =>
      d.id.endsWith(suffix) && /^\d+$/.test(d.id.slice('PopupLov_'.length, -suffix.length))) || null;
  };
  const knownItem = () => !!arg.item && !!apex.item(arg.item).node;
  const query = (sel) => {
    try {
      return document.querySelector(sel);
    } catch (e) {
      return undefined; // not a selector this page understands
    }
  };

  // An Interactive Grid's grid view, or null when the page has none by that id.
  const igView = () => {
    try {
      const view = apex.region(arg.grelha).widget().interactiveGrid('getViews', 'grid');
      return view && view.model ? view : null;
    } catch (e) {
      return null;
    }
  };
  // The grid's "interactivegridsave" events, counted from the grid's first add wait on.
  const igSaves = () => {
    const all = (window.__zvRitmoIg = window.__zvRitmoIg || {});
    if (!all[arg.grelha]) {
      const saves = (all[arg.grelha] = { n: 0, base: 0 });
      apex.region(arg.grelha).widget().on('interactivegridsave', () => { saves.n += 1; });
    }
    return all[arg.grelha];
  };

  // This wait's own state between polls, dropped with its verdict.
  const waits = (window.__zvRitmo = window.__zvRitmo || {});
  // Marks only grow: state of an earlier wait (one that ran out) is no longer wanted.
  for (const mark of Object.keys(waits)) if (Number(mark) < arg.marca) delete waits[mark];
  const state = (waits[arg.marca] = waits[arg.marca] || {});
  const done = (verdict) => {
    delete waits[arg.marca];
    return verdict;
  };

  const conditions = {
    ocioso: () => !busy(),
    lov_aberto: () => {
      if (!knownItem()) return 'sem_sinal';
      const dialog = dialogOf(arg.item);
      if (!shown(dialog)) return false;
      const results = dialog.querySelector('.a-PopupLOV-results') || dialog;
      const rendered = !!results.querySelector('.a-IconList-item, .a-GV-row[data-id]') ||
        Array.from(results.querySelectorAll('.a-GV-noDataMsg')).some(shown);
      // Its own indicator lingers after the rows came (F18): the counter, where there is one,
      // tells when the request is over. Without it only the indicators tell.
      return rendered && (counted ? !inFlight() : !spinning(dialog.closest('.ui-dialog') || dialog));
    },
    lov_fechado: () => {
      if (!knownItem()) return 'sem_sinal';
      const dialog = dialogOf(arg.item);
      if (shown(dialog)) {
        if (!state.clicked) {
          state.clicked = true;
          const close = (dialog.closest('.ui-dialog') || dialog).querySelector('.ui-dialog-titlebar-close');
          if (close) close.click();
        }
        return false;
      }
      if (apex.item(arg.item).node.getAttribute('aria-expanded') === 'true') return false;
      if (arg.valor === null || arg.valor === undefined) return 'pronto'; // no value to compare
      return String(apex.item(arg.item).getValue()) === String(arg.valor) ? 'pronto' : 'valor_diferente';
    },
    grelha_inserir: () => {
      if (arg.grelha) {
        // The row Add Row inserted, in edit mode (the grid enters it on a timer).
        const view = igView();
        if (!view) return 'sem_sinal';
        if (!state.armed) {
          state.armed = true;
          const saves = igSaves();
          saves.base = saves.n;
        }
        const id = view.getActiveRecordId();
        if (id === null || id === undefined) return false;
        const meta = view.model.getRecordMetadata(id);
        const editing = view.view$ && typeof view.view$.grid === 'function' ? view.view$.grid('inEditMode') : true;
        return !!(meta && meta.inserted && !meta.autoInserted && editing);
      }
      const cell = arg.seletor ? query(arg.seletor) : undefined;
      if (cell === undefined) return 'sem_sinal';
      return shown(cell);
    },
    grelha_gravar: () => {
      if (arg.grelha) {
        // The model's save request over: its event came, or nothing is left unsaved.
        const view = igView();
        if (!view) return 'sem_sinal';
        if (inFlight()) return false;
        const saves = (window.__zvRitmoIg || {})[arg.grelha];
        return !!(saves && saves.n > saves.base) || !view.model.isChanged();
      }
      const add = arg.seletor ? query(arg.seletor) : undefined;
      if (add === undefined) return 'sem_sinal';
      return !!add && !add.disabled && !busy();
    },
  };

  const verdict = conditions[arg.ponto]();
  if (verdict === false) {
    state.since = undefined;
    return false;
  }
  if (verdict !== true) return done(verdict);
  if (!arg.quieto) return done('pronto');
  // Held for the quiet window: ready at every poll since `since`.
  const now = Date.now();
  if (state.since === undefined) state.since = now;
  // Without the request counter only the indicators tell, and they show 200 ms late.
  const windowMs = counted ? arg.quieto : Math.max(arg.quieto, 250);
  return now - state.since >= windowMs ? done('pronto') : false;
}
