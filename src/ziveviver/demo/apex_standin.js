/*
 * apex_standin.js: a small, offline imitation of the client side of an APEX
 * page (Universal Theme), used as the demo form and as the browser-test fixture.
 *
 * What it imitates
 *   - window.apex: apex.item(id) (a placeholder object with node:false for
 *     unknown ids), apex.items, $s / $v, and apex.jQuery, a tiny jQuery-like
 *     event helper. setValue triggers "change" the jQuery way: handlers bound
 *     with the helper and inline onchange run, but no DOM event is dispatched,
 *     so addEventListener listeners never see it.
 *   - Item kinds: text / textarea / hidden, server read-only (hidden input +
 *     ITEM_DISPLAY span), select (single, multiple), radio and checkbox groups
 *     (options ITEM_0..n), popup LOV (ITEM_HIDDENVALUE + visible ITEM, dialog
 *     created on first open, "Load More" paging, kept hidden after close) in list
 *     display (li.a-IconList-item) or, with more than one column (P1_AGENCIA), in
 *     grid display (tr.a-GV-row[data-id], the display column's cell
 *     td.a-GV-rowHeader, a header row without data-id),
 *     date picker 22.2+ (<a-date-picker>) and the older input date picker.
 *   - Busy indicators: .u-Processing spinners shown only after 200 ms and kept
 *     until 1000 ms after the request started (delay / linger).
 *   - Requests in flight: every simulated server call (popup LOV pages, display
 *     lookups, cascades, grid saves, ajax calls, __zv.request) counts in
 *     apex.jQuery.active from its start until its answer has been handled, as
 *     jQuery counts APEX's $.ajax calls.
 *   - A cascading select (P1_PAIS -> P1_ESTADO), an autocomplete field, a
 *     hidden-then-shown item (P1_OCULTO), a late item (P1_TARDIO), and two
 *     grid regions with a row editor (Titulares, Beneficiários).
 *   - A change "dynamic action" bound with the helper on every item.
 *   - ?noapex=1 leaves window.apex, $s and $v undefined; everything else stays.
 *   - ?latencia=MS sets the server's answer time: every simulated server answer
 *     (popup LOV pages, display lookups, cascades, grid saves, __zv.request)
 *     comes MS milliseconds after its request (0: at once; 1500: a slow APEX).
 *     Without it each kind keeps its own time (lovPageMs, lookupMs, cascadeMs,
 *     500 ms for a grid save, request(ms)).
 *   - Release: 24.2 by default (apex.env.APEX_VERSION, the registry apex.items, item_type on
 *     every item); <html data-apex="20.2"> or ?apex=20.2 imitates a 20.x page (no apex.env,
 *     apex.items an empty legacy object, a date picker is a TEXT item). form_legado.html is
 *     such a page, with another layout and items in another order.
 *   - ?tardio=MS: the late item comes MS after start-up instead of 1000 ms.
 *
 * Test API: window.__zv
 *   ready                      true once the page is initialised
 *   calls                      [{item, args:[v, d, suppress]}] per setValue
 *                              (calls on a missing item also get missing:true)
 *   events                     [{target, type, native}] DOM events (input, change,
 *                              blur, click, focus) seen by a capture listener
 *                              (native:true) and helper triggers (native:false)
 *   da                         [{item, type}] one entry per dynamic-action run
 *   reset()                    empties calls, events and da
 *   value(id)                  the item's getValue() (arrays stay arrays)
 *   display(id)                what the user sees: visible input of a popup LOV,
 *                              option text(s) of a select, data-display of groups
 *   dom(id)                    element .value; checked values for groups, selected
 *                              values for a multiple select; null when absent
 *   state()                    {ITEM: getValue()} for every registered item
 *   saved.titulares / saved.beneficiarios   saved grid rows {column item: value}
 *   busy(ms)                   shows a page spinner for ms milliseconds (no request)
 *   request(ms, item)          a server call of ms milliseconds (default 2000) with a
 *                              loading indicator after item (default P1_NOME),
 *                              shown after 200 ms as APEX's; counted in
 *                              apex.jQuery.active; its number goes into requestsDone
 *                              once answered
 *   requestsDone               [n, ...] the request() calls answered, in order
 *   blockAdd("TIT"|"BEN", on)  keeps that grid's add button disabled
 *   refresh(id, ms)            refreshes select list or radio/check box group id as a
 *                              cascade does: its options
 *                              emptied, apexbeforerefresh, a server call of ms (default
 *                              cascadeMs; the page's latency when set), the same options
 *                              back, apexafterrefresh
 *   lovPageMs                  popup LOV page fetch delay (default 300)
 *   lookupMs, cascadeMs        display-value lookup (300) and cascade fetch (600)
 *   latencia                   every simulated server answer's time in ms (from
 *                              ?latencia=), or null: each kind's own time
 *   lovEndless                 true: popup LOV lists never end; every page is
 *                              followed by another of generated rows
 *   expireSession()            from now on every ajax answer is the login page:
 *                              LOV pages, cascades and display lookups bring no
 *                              data, and the "session ended" notice shows
 *   sessionAnswers             how many ajax answers were the login page
 *   submitOn                   item id (or null): a change of that item runs a
 *                              "Submit Page" dynamic action (da type "submit")
 *   ajaxOn                     item id (or null): a change of that item runs an
 *                              ajax call, a POST to wwv_flow.ajax (da type "ajax")
 *   submitAjax                 true: the page submit posts by ajax to
 *                              wwv_flow.accept instead of posting the form
 *   submits                    [{request, ajax, result}] one per page submit tried
 *                              (button #SUBMETER, apex.submit, the dynamic action)
 *   ajaxResults                [{name, ok, text|error}] one per ajax call answered
 *   standin                    (not enumerable) what the widget families kept in files of
 *                              their own (ig.js) build on: $, registerItem(id), serverCall,
 *                              delayLinger, answerMs, spinner
 */
(function () {
  "use strict";

  // ---------------------------------------------------------------- "server" data

  const PROFISSOES = [
    "Engenheiro", "Professora", "Médico", "Enfermeira", "Advogado", "Contadora",
    "Arquiteto", "Dentista", "Farmacêutica", "Psicólogo", "Jornalista", "Economista",
    "Administradora", "Analista de Sistemas", "Programadora", "Designer Gráfico",
    "Eletricista", "Encanador", "Mecânico", "Motorista", "Cozinheira", "Padeiro",
    "Agricultor", "Veterinária", "Biólogo", "Química", "Físico", "Geóloga",
    "Bibliotecário", "Historiadora", "Músico", "Atriz", "Fotógrafo", "Tradutora",
    "Secretária", "Recepcionista", "Vendedor", "Comerciante", "Bancário",
    "Corretor de Imóveis", "Corretora de Seguros", "Servidor Público", "Policial",
    "Bombeiro", "Militar", "Piloto", "Comissária de Bordo", "Fisioterapeuta",
    "Nutricionista", "Fonoaudióloga", "Pedreiro", "Carpinteiro", "Pintor",
    "Costureira", "Cabeleireira", "Estudante", "Aposentado", "Do lar", "Empresária",
    "Autônomo",
  ].map((d, i) => ({ id: String(101 + i), d }));

  const BANCOS = [
    "Banco Aurora", "Banco Boa Vista", "Caixa Serrana", "Banco Litoral",
    "Cooperativa Rio Claro", "Banco Meridiano", "Banco Planalto", "Banco Ventura",
  ].map((d, i) => ({ id: String(i + 1), d }));

  // Bank branches: a popup LOV of two visible columns, shown in grid display.
  const ZONAS = ["Centro", "Norte", "Sul", "Leste", "Oeste"];
  const AGENCIAS = [
    "Belo Horizonte", "Braga", "Coimbra", "Curitiba", "Fortaleza", "Lisboa",
    "Luanda", "Maputo", "Porto", "Recife", "Salvador", "São Paulo",
  ].flatMap((c) => ZONAS.map((z) => `${c} ${z}`))
    .map((d, i) => ({ id: String(301 + i), d, codigo: String(1000 + 7 * i).padStart(4, "0") }));

  const LOV_SOURCES = {
    P1_PROFISSAO: PROFISSOES, P1_REP_PROF: PROFISSOES, P2_TIT_PROF: PROFISSOES,
    P1_BANCO: BANCOS, P1_AGENCIA: AGENCIAS, P7_AGENCIA: AGENCIAS,
  };
  // LOVs of more than one visible column (grid display): [heading, row field], the
  // display column first.
  const LOV_COLUMNS = {
    P1_AGENCIA: [["Agência", "d"], ["Código", "codigo"]],
    P7_AGENCIA: [["Agência", "d"], ["Código", "codigo"]],
  };

  const ESTADOS = {
    BR: [["SP", "São Paulo"], ["RJ", "Rio de Janeiro"], ["MG", "Minas Gerais"], ["BA", "Bahia"]],
    PT: [["LIS", "Lisboa"], ["POR", "Porto"], ["BRG", "Braga"]],
    AO: [["LUA", "Luanda"], ["BGU", "Benguela"]],
    MZ: [["MPM", "Maputo"], ["SOF", "Sofala"]],
  };

  const CIDADES = [
    "Belo Horizonte", "Braga", "Coimbra", "Curitiba", "Fortaleza", "Lisboa", "Luanda",
    "Maputo", "Porto", "Porto Alegre", "Recife", "Rio de Janeiro", "Salvador", "São Paulo",
  ];

  const LOV_PAGE_SIZE = 20;
  const BUSY_DELAY = 200;
  const BUSY_LINGER = 1000;
  const PARAMS = new URLSearchParams(location.search);
  // ?tardio=MS: how long after start-up the late item comes (default 1000 ms).
  const LATE_MS = Number(PARAMS.get("tardio")) || 1000;
  // The APEX release imitated: 24.2 by default; <html data-apex="20.2"> (or ?apex=20.2) gives
  // a 20.x page: no apex.env, and apex.items an empty legacy object instead of the registry.
  const APEX_VERSION = PARAMS.get("apex") || document.documentElement.dataset.apex || "24.2.0";
  const LEGACY = parseInt(APEX_VERSION, 10) < 21;
  // ?pagina=N: the page number (a dialog page's, dialog.js); its popup LOVs' dialogs are
  // PopupLov_<N>_<item>_dlg.
  const PAGE_ID = Number(PARAMS.get("pagina")) || 1;
  // Where the popup LOVs build their dialogs: with the top window's jQuery, as APEX's
  // getTopApex gives it, so an item of a dialog page gets its dialog in the top document;
  // the page's own document when the top window is out of reach (another origin).
  const LOV_DOC = (() => {
    try {
      if (window.top !== window && window.top.document.body) return window.top.document;
    } catch (e) {
      // another origin
    }
    return document;
  })();

  // ---------------------------------------------------------------- recording

  // ?latencia=MS: a number of ms, or null (absent, or not a number).
  function serverLatency(text) {
    const ms = text === null || text.trim() === "" ? NaN : Number(text);
    return Number.isFinite(ms) ? Math.max(0, ms) : null;
  }
  // How long a server answer of the given kind takes: the page's latency, when set.
  const answerMs = (ms) => (zv.latencia === null ? ms : zv.latencia);

  const zv = {
    ready: false,
    calls: [],
    events: [],
    da: [],
    saved: { titulares: [], beneficiarios: [] },
    lovPageMs: 300,
    lookupMs: 300,
    cascadeMs: 600,
    submitOn: null,
    ajaxOn: null,
    submitAjax: false,
    submits: [],
    ajaxResults: [],
    lovEndless: false,
    sessionExpired: false,
    sessionAnswers: 0,
    requestsDone: [],
    latencia: serverLatency(new URLSearchParams(location.search).get("latencia")),
  };
  window.__zv = zv;

  const RECORDED_TYPES = ["input", "change", "blur", "click", "focus"];
  RECORDED_TYPES.forEach((type) => {
    document.addEventListener(type, (e) => {
      const t = e.target;
      if (t && t.nodeType === 1 && t.id) zv.events.push({ target: t.id, type, native: true });
    }, true);
  });

  const byId = (id) => document.getElementById(id);
  const copy = (v) => (Array.isArray(v) ? v.slice() : v);
  const toArray = (v) => {
    if (v == null || v === "") return [];
    if (Array.isArray(v)) return v.map(String);
    return String(v).split(":");
  };

  // ---------------------------------------------------------------- jQuery-like helper

  // Handlers bound through the helper, per node and event type, so that
  // trigger() can run them without dispatching a DOM event.
  const bound = new WeakMap();
  let runningNative = null; // event type being run natively by trigger()

  function handlersOf(node, type) {
    const byType = bound.get(node);
    return (byType && byType[type]) || [];
  }

  function propagationPath(node) {
    const path = [];
    for (let cur = node; cur; cur = cur.parentNode) path.push(cur);
    if (path[path.length - 1] === document) path.push(window);
    return path;
  }

  function fakeEvent(type, target) {
    return {
      type, target, currentTarget: target, isTrigger: true, originalEvent: undefined,
      _prevented: false, _stopped: false, _stoppedNow: false,
      preventDefault() { this._prevented = true; },
      isDefaultPrevented() { return this._prevented; },
      stopPropagation() { this._stopped = true; },
      stopImmediatePropagation() { this._stopped = this._stoppedNow = true; },
    };
  }

  function triggerOn(node, type) {
    zv.events.push({ target: node.id || node.nodeName || "window", type, native: false });
    const ev = fakeEvent(type, node);
    for (const cur of propagationPath(node)) {
      ev.currentTarget = cur;
      for (const h of handlersOf(cur, type).slice()) {
        if (h.fn.call(cur, ev) === false) { ev.preventDefault(); ev.stopPropagation(); }
        if (ev._stoppedNow) break;
      }
      const inline = cur["on" + type];
      if (typeof inline === "function" && inline.call(cur, ev) === false) ev.preventDefault();
      if (ev._stopped) break;
    }
    // Like jQuery: click/focus/blur also run the element's native method
    // (helper handlers are skipped then, they already ran).
    if (!ev._prevented && ["click", "focus", "blur"].includes(type) && typeof node[type] === "function") {
      runningNative = type;
      try { node[type](); } finally { runningNative = null; }
    }
  }

  function Wrapped(nodes) {
    nodes.forEach((n, i) => { this[i] = n; });
    this.length = nodes.length;
  }
  Wrapped.prototype.toArray = function () { return Array.prototype.slice.call(this); };
  Wrapped.prototype.on = function (type, fn) {
    this.toArray().forEach((node) => {
      const listener = function (e) {
        if (runningNative === e.type) return;
        if (fn.call(node, e) === false) { e.preventDefault(); e.stopPropagation(); }
      };
      node.addEventListener(type, listener);
      const byType = bound.get(node) || {};
      (byType[type] = byType[type] || []).push({ fn, listener });
      bound.set(node, byType);
    });
    return this;
  };
  Wrapped.prototype.off = function (type, fn) {
    this.toArray().forEach((node) => {
      const list = handlersOf(node, type);
      for (let i = list.length - 1; i >= 0; i--) {
        if (fn && list[i].fn !== fn) continue;
        node.removeEventListener(type, list[i].listener);
        list.splice(i, 1);
      }
    });
    return this;
  };
  Wrapped.prototype.trigger = function (type) {
    this.toArray().forEach((node) => triggerOn(node, type));
    return this;
  };

  function $(target) {
    if (!target) return new Wrapped([]);
    if (typeof target === "string") return new Wrapped(Array.from(document.querySelectorAll(target)));
    if (target.nodeType || target === window) return new Wrapped([target]);
    return new Wrapped(Array.from(target));
  }
  // Requests in flight, as jQuery's $.active counts its ajax calls.
  $.active = 0;

  // ---------------------------------------------------------------- busy indicators

  function spinner(inline) {
    const s = document.createElement("span");
    s.className = inline ? "u-Processing u-Processing--inline" : "u-Processing";
    s.innerHTML = '<span class="u-Processing-spinner"></span>';
    if (!inline) {
      s.setAttribute("role", "alert");
      s.insertAdjacentHTML("beforeend", '<span class="u-VisuallyHidden">Processing</span>');
    }
    return s;
  }

  // Shows an indicator only if the work outlasts BUSY_DELAY and then keeps it
  // until BUSY_LINGER after the work started. start()/finish() nest.
  function delayLinger(show, hide) {
    let count = 0, timer = null, active = false, started = 0;
    return {
      start() {
        count += 1;
        if (count !== 1 || timer || active) return;
        started = Date.now();
        timer = setTimeout(() => { timer = null; active = true; show(); }, BUSY_DELAY);
      },
      finish() {
        count -= 1;
        if (count > 0) return;
        if (timer) { clearTimeout(timer); timer = null; return; }
        if (!active) return;
        const wait = Math.max(0, BUSY_LINGER - (Date.now() - started));
        setTimeout(() => { if (count === 0 && active) { active = false; hide(); } }, wait);
      },
    };
  }

  // An inline indicator placed after `anchor` while requests run.
  function inlineBusy(anchor) {
    let el = null;
    return delayLinger(
      () => { el = spinner(true); anchor.after(el); },
      () => { if (el) el.remove(); el = null; });
  }

  function pageSpinner(container, ms) {
    const s = spinner(false);
    (container || document.body).appendChild(s);
    return new Promise((resolve) => setTimeout(() => { s.remove(); resolve(); }, ms));
  }

  // A server call answered after `ms` (or the page's latency): in flight ($.active) from now until `answer` has
  // run, as jQuery counts an ajax call until its handlers are done; `busy` (a delayLinger,
  // or null) shows its loading indicator meanwhile.
  function serverCall(ms, busy, answer) {
    $.active += 1;
    if (busy) busy.start();
    setTimeout(() => {
      try {
        if (busy) busy.finish();
        answer();
      } finally {
        $.active -= 1;
      }
    }, answerMs(ms));
  }

  // ---------------------------------------------------------------- expired session

  // An ajax answer after the session expired is the login page: no request can use it.
  // Tells whether that is so now, and shows APEX's notice once.
  function answeredWithLoginPage() {
    if (!zv.sessionExpired) return false;
    zv.sessionAnswers += 1;
    if (!byId("SESSION_ENDED")) {
      const note = document.createElement("div");
      note.id = "SESSION_ENDED";
      note.className = "t-Alert t-Alert--danger";
      note.setAttribute("role", "alert");
      note.innerHTML = 'A sua sessão expirou. <a href="#">Entrar novamente</a>';
      document.body.prepend(note);
    }
    return true;
  }

  // ---------------------------------------------------------------- dates

  const MESES = ["JAN", "FEV", "MAR", "ABR", "MAI", "JUN", "JUL", "AGO", "SET", "OUT", "NOV", "DEZ"];
  const MESES_NOME = ["Janeiro", "Fevereiro", "Março", "Abril", "Maio", "Junho", "Julho",
    "Agosto", "Setembro", "Outubro", "Novembro", "Dezembro"];
  const pad = (n) => String(n).padStart(2, "0");

  function formatDate(date, fmt) {
    return fmt.replace(/YYYY|MON|MM|DD/g, (tok) => ({
      YYYY: String(date.getFullYear()), MON: MESES[date.getMonth()],
      MM: pad(date.getMonth() + 1), DD: pad(date.getDate()),
    })[tok]);
  }

  function parseDate(text) {
    const m = /^(\d{1,2})\/(\d{1,2})\/(\d{4})$/.exec(String(text || "").trim());
    if (!m) return null;
    const d = new Date(+m[3], +m[2] - 1, +m[1]);
    return d.getMonth() === +m[2] - 1 ? d : null;
  }

  // ---------------------------------------------------------------- item interface

  const items = {};
  const lovs = {};

  function makeItem(id, node, kind, impl) {
    const changeNode = impl.changeNode || node;
    const item = {
      id, node, kind, element: $(node), item_type: itemTypeOf(node, kind),
      getValue: impl.get,
      setValue(v, d, suppress) {
        zv.calls.push({ item: id, args: [copy(v), d, suppress] });
        impl.set(v, d);
        if (suppress !== true) $(changeNode).trigger("change");
      },
      displayValueFor: impl.displayFor || ((v) => v),
      _shown: impl.shown || impl.get, // internal: what the user sees
      isDisabled: impl.isDisabled || (() => !!node.disabled),
      getValidity: () => ({ valid: impl.isValid ? impl.isValid() : true }),
      disable: impl.disable || (() => { node.disabled = true; node.classList.add("apex_disabled"); }),
      enable: impl.enable || (() => { node.disabled = false; node.classList.remove("apex_disabled"); }),
      isEmpty() {
        const v = item.getValue();
        return (Array.isArray(v) ? v.join(":") : String(v == null ? "" : v)).trim() === "";
      },
      _clear: () => impl.set("", ""), // internal: empties without events
    };
    items[id] = item;
    // The item's change dynamic action.
    $(changeNode).on("change", function () { zv.da.push({ item: id, type: "change" }); });
    // Dynamic actions a test arms: "Submit Page", and an ajax call to the server.
    $(changeNode).on("change", function () {
      if (zv.submitOn === id) { zv.da.push({ item: id, type: "submit" }); submitPage(id); }
      if (zv.ajaxOn === id) { zv.da.push({ item: id, type: "ajax" }); serverProcess(id); }
    });
    return item;
  }

  // APEX's item_type for the kinds the page has (a 20.x date picker is a TEXT item).
  function itemTypeOf(node, kind) {
    const extra = EXTRA_KINDS.find((k) => k.kind === kind);
    if (extra) return extra.itemType;
    if (kind === "text" && node.classList.contains("apex-item-autocomplete")) return "AUTOCOMPLETE";
    return {
      datepicker: "DATE_PICKER", radio: "RADIO_GROUP", checkbox: "CHECKBOX_GROUP", select: "SELECT",
      selectmultiple: "SELECT", popuplov: "POPUP_KEY_LOV", displayonly: "DISPLAY_ONLY", textarea: "TEXTAREA",
    }[kind] || "TEXT";
  }

  function placeholder(id) {
    const none = () => "";
    return {
      id: false, node: false, element: $(null),
      setValue(v, d, suppress) {
        zv.calls.push({ item: id, args: [copy(v), d, suppress], missing: true });
      },
      getValue: none, displayValueFor: (v) => v, isDisabled: () => false,
      disable() {}, enable() {}, isEmpty: () => true,
    };
  }

  function textImpl(node) {
    return {
      get: () => node.value,
      set: (v) => { node.value = v == null ? "" : String(v); },
    };
  }

  function displayOnlyImpl(node) {
    const span = byId(node.id + "_DISPLAY");
    return {
      get: () => node.value,
      set: (v, d) => {
        node.value = v == null ? "" : String(v);
        span.textContent = d != null ? String(d) : node.value;
      },
      shown: () => span.textContent,
      isDisabled: () => false,
    };
  }

  function optionText(select, v) {
    const o = Array.from(select.options).find((opt) => opt.value === String(v));
    return o ? o.text : v;
  }

  function selectImpl(node) {
    const selected = () => Array.from(node.options).filter((o) => o.selected);
    if (node.multiple) {
      return {
        get: () => selected().map((o) => o.value),
        set: (v) => {
          const wanted = toArray(v);
          Array.from(node.options).forEach((o) => { o.selected = wanted.includes(o.value); });
        },
        displayFor: (v) => toArray(v).map((x) => optionText(node, x)).join(", "),
        shown: () => selected().map((o) => o.text),
      };
    }
    return {
      get: () => node.value,
      // A value no option carries leaves no option selected, and the browser then shows
      // the list's first option, as APEX 24.2 does.
      set: (v) => {
        const want = v == null ? "" : v;
        Array.from(node.options).forEach((o) => {
          // eslint-disable-next-line eqeqeq
          o.selected = o.value == want; // loose, as APEX compares
        });
      },
      displayFor: (v) => optionText(node, v),
      shown: () => (node.selectedIndex < 0 ? "" : node.options[node.selectedIndex].text),
    };
  }

  function groupImpl(node, multi) {
    const inputs = () => Array.from(node.querySelectorAll("input[type=radio], input[type=checkbox]"));
    const checked = () => inputs().filter((i) => i.checked);
    const displays = (vals) => inputs().filter((i) => vals.includes(i.value)).map((i) => i.dataset.display);
    const setDisabled = (b) => {
      inputs().forEach((i) => { i.disabled = b; });
      node.classList.toggle("apex_disabled_multi", b);
    };
    return {
      get: () => (multi ? checked().map((i) => i.value) : (checked()[0] || { value: "" }).value),
      set: (v) => {
        const wanted = multi ? toArray(v) : (v == null ? [] : [String(v)]);
        inputs().forEach((i) => { i.checked = false; });
        inputs().forEach((i) => { if (wanted.includes(i.value)) i.checked = true; });
      },
      displayFor: (v) => {
        const found = displays(multi ? toArray(v) : [String(v)]);
        return found.length ? found.join(", ") : v;
      },
      shown: () => (multi ? checked().map((i) => i.dataset.display)
        : (checked()[0] ? checked()[0].dataset.display : "")),
      isDisabled: () => node.classList.contains("apex_disabled_multi") || inputs().every((i) => i.disabled),
      disable: () => setDisabled(true),
      enable: () => setDisabled(false),
    };
  }

  function datePickerImpl(node) {
    return {
      get: () => node.value,
      set: (v) => { node.value = v == null ? "" : String(v); },
      displayFor: (v) => (v instanceof Date ? formatDate(v, node.format) : v),
      disable: () => { node.disabled = true; node.classList.add("apex_disabled"); },
      enable: () => { node.disabled = false; node.classList.remove("apex_disabled"); },
    };
  }

  function popupLovImpl(node) {
    const hidden = byId(node.id + "_HIDDENVALUE");
    const button = byId(node.id + "_lov_btn");
    const source = LOV_SOURCES[node.id] || PROFISSOES;
    const busy = inlineBusy(node.closest(".apex-item-group") || node);
    let lookupSeq = 0;
    const setDisabled = (b) => {
      [node, hidden, button].forEach((el) => { el.disabled = b; });
      node.classList.toggle("apex_disabled", b);
    };
    // Asks the "server" for the display value of v (get-row-values).
    const lookup = (v) => {
      const seq = ++lookupSeq;
      serverCall(zv.lookupMs, busy, () => {
        if (seq !== lookupSeq || answeredWithLoginPage()) return;
        const row = source.find((r) => r.id === v);
        node.value = row ? row.d : v;
      });
    };
    return {
      get: () => hidden.value,
      set: (v, d) => {
        const s = v == null ? "" : String(v);
        lookupSeq += 1; // a newer value wins over a pending lookup
        hidden.value = s;
        if (s === "") node.value = "";
        else if (d != null) node.value = String(d);
        else if (lovs[node.id] && lovs[node.id].isOpen()) node.value = s;
        else lookup(s);
      },
      displayFor: (v) => (String(v) === hidden.value ? node.value : v),
      shown: () => node.value,
      isDisabled: () => !!node.disabled,
      disable: () => setDisabled(true),
      enable: () => setDisabled(false),
    };
  }

  // Item kinds another stand-in file adds (window.__zvTipos, loaded before this one): each
  // {kind, itemType, match(node), impl(node)}, impl giving the same shape as the impls below.
  const EXTRA_KINDS = Array.isArray(window.__zvTipos) ? window.__zvTipos : [];

  function kindOf(node) {
    const extra = EXTRA_KINDS.find((k) => k.match(node));
    if (extra) return extra.kind;
    if (node.tagName === "A-DATE-PICKER") return "datepicker";
    if (node.classList.contains("apex-item-radio")) return "radio";
    if (node.classList.contains("apex-item-checkbox")) return "checkbox";
    if (node.tagName === "SELECT") return node.multiple ? "selectmultiple" : "select";
    if (node.classList.contains("apex-item-popup-lov")) return "popuplov";
    if (node.type === "hidden" && byId(node.id + "_DISPLAY")) return "displayonly";
    return node.tagName === "TEXTAREA" ? "textarea" : "text";
  }

  const IMPLS = {
    datepicker: datePickerImpl,
    radio: (n) => groupImpl(n, false),
    checkbox: (n) => groupImpl(n, true),
    select: selectImpl,
    selectmultiple: selectImpl,
    popuplov: popupLovImpl,
    displayonly: displayOnlyImpl,
    textarea: textImpl,
    text: textImpl,
  };
  EXTRA_KINDS.forEach((k) => { IMPLS[k.kind] = k.impl; });

  // Every t-Form-fieldContainer with id ITEM_CONTAINER holds an APEX item.
  function registerItems(root) {
    root.querySelectorAll(".t-Form-fieldContainer[id$='_CONTAINER']").forEach((c) => {
      registerItem(c.id.slice(0, -"_CONTAINER".length));
    });
  }

  // The item whose element has this id, made an APEX item (once).
  function registerItem(id) {
    const node = byId(id);
    if (!node || items[id]) return items[id];
    const kind = kindOf(node);
    makeItem(id, node, kind, IMPLS[kind](node));
    if (kind === "popuplov") lovs[id] = new PopupLov(items[id]);
    if (node.classList.contains("apex-item-autocomplete")) autocomplete(node, CIDADES);
    return items[id];
  }

  function apexItem(idOrNode) {
    const id = idOrNode && idOrNode.nodeType ? idOrNode.id : idOrNode;
    return items[id] || placeholder(id);
  }

  // ---------------------------------------------------------------- date pickers

  let openCalendarEl = null;

  function closeCalendar() {
    if (openCalendarEl) openCalendarEl.remove();
    openCalendarEl = null;
  }

  // A one-month calendar under `anchor`; pick(text) receives the chosen date.
  function openCalendar(anchor, fmt, current, pick, legacy) {
    closeCalendar();
    const box = document.createElement("div");
    if (legacy) {
      box.id = "ui-datepicker-div";
      box.className = "ui-datepicker ui-widget ui-widget-content zv-calendar";
    } else {
      box.className = "ui-dialog ui-dialog-datepicker zv-calendar";
      box.setAttribute("role", "dialog");
    }
    const r = anchor.getBoundingClientRect();
    box.style.left = (r.left + window.scrollX) + "px";
    box.style.top = (r.bottom + window.scrollY + 2) + "px";
    document.body.appendChild(box);
    openCalendarEl = box;
    let month = current || new Date();
    month = new Date(month.getFullYear(), month.getMonth(), 1);
    const draw = () => {
      const days = new Date(month.getFullYear(), month.getMonth() + 1, 0).getDate();
      let html = '<div class="zv-cal-head"><button type="button" class="zv-cal-prev" aria-label="Anterior">‹</button>' +
        `<span class="zv-cal-title">${MESES_NOME[month.getMonth()]} ${month.getFullYear()}</span>` +
        '<button type="button" class="zv-cal-next" aria-label="Próximo">›</button></div><div class="zv-cal-grid">';
      ["D", "S", "T", "Q", "Q", "S", "S"].forEach((w) => { html += `<span class="zv-cal-wd">${w}</span>`; });
      for (let i = 0; i < month.getDay(); i++) html += "<span></span>";
      for (let d = 1; d <= days; d++) {
        const text = formatDate(new Date(month.getFullYear(), month.getMonth(), d), fmt);
        html += `<button type="button" class="zv-cal-day" data-date="${text}">${d}</button>`;
      }
      box.innerHTML = html + "</div>";
    };
    box.addEventListener("click", (e) => {
      const t = e.target;
      if (t.classList.contains("zv-cal-prev") || t.classList.contains("zv-cal-next")) {
        month = new Date(month.getFullYear(), month.getMonth() + (t.classList.contains("zv-cal-prev") ? -1 : 1), 1);
        draw();
      } else if (t.dataset.date) {
        closeCalendar();
        pick(t.dataset.date);
      }
    });
    draw();
  }

  document.addEventListener("mousedown", (e) => {
    if (openCalendarEl && !openCalendarEl.contains(e.target) && !e.target.closest(".a-Button--calendar, .ui-datepicker-trigger")) closeCalendar();
  });
  document.addEventListener("keydown", (e) => { if (e.key === "Escape") closeCalendar(); });

  // Date picker of APEX 22.2+: the element is the item; the input lives inside.
  class ADatePicker extends HTMLElement {
    get input() { return this.querySelector("input"); }
    get button() { return this.querySelector("button"); }
    get format() { return this.getAttribute("format") || "DD/MM/YYYY"; }
    get value() { return this.input ? this.input.value : ""; }
    set value(v) { if (this.input) this.input.value = v; }
    get disabled() { return !!(this.input && this.input.disabled); }
    set disabled(b) {
      if (this.input) this.input.disabled = b;
      if (this.button) this.button.disabled = b;
      this.toggleAttribute("disabled", !!b);
    }
    connectedCallback() {
      if (this._wired || !this.button) return;
      this._wired = true;
      this.button.addEventListener("click", () => {
        openCalendar(this.input, this.format, parseDate(this.value), (text) => {
          this.value = text;
          $(this).trigger("change");
        }, false);
      });
    }
  }
  if (!customElements.get("a-date-picker")) customElements.define("a-date-picker", ADatePicker);

  // Date picker up to 22.1: a text input followed by a trigger button.
  function wireLegacyDatePickers() {
    document.querySelectorAll("input.hasDatepicker").forEach((input) => {
      const trigger = input.nextElementSibling;
      if (!trigger || !trigger.classList.contains("ui-datepicker-trigger")) return;
      trigger.addEventListener("click", () => {
        if (input.disabled) return;
        openCalendar(input, "DD/MM/YYYY", parseDate(input.value), (text) => {
          input.value = text;
          $(input).trigger("change");
        }, true);
      });
    });
  }

  // ---------------------------------------------------------------- autocomplete

  function autocomplete(input, words) {
    const menu = document.createElement("ul");
    menu.className = "ui-autocomplete ui-front ui-menu ui-widget ui-widget-content";
    menu.style.display = "none";
    document.body.appendChild(menu);
    const fold = (s) => s.normalize("NFD").replace(/[\u0300-\u036f]/g, "").toLowerCase();
    const hide = () => { menu.style.display = "none"; };
    input.addEventListener("input", () => {
      const term = fold(input.value.trim());
      const hits = term ? words.filter((w) => fold(w).includes(term)) : [];
      if (!hits.length) return hide();
      menu.innerHTML = hits.map((w) =>
        `<li class="ui-menu-item"><div class="ui-menu-item-wrapper" tabindex="-1">${w}</div></li>`).join("");
      const r = input.getBoundingClientRect();
      menu.style.left = (r.left + window.scrollX) + "px";
      menu.style.top = (r.bottom + window.scrollY) + "px";
      menu.style.width = r.width + "px";
      menu.style.display = "";
    });
    menu.addEventListener("mousedown", (e) => e.preventDefault()); // keep focus in the input
    menu.addEventListener("click", (e) => {
      const li = e.target.closest("li.ui-menu-item");
      if (!li) return;
      input.value = li.textContent;
      hide();
    });
    input.addEventListener("blur", hide);
    input.addEventListener("keydown", (e) => { if (e.key === "Escape") hide(); });
  }

  // ---------------------------------------------------------------- popup LOV

  // The dialog of one popup LOV item. Built on first open, then only hidden
  // and shown again; its loaded rows stay in the DOM.
  function PopupLov(item) {
    this.item = item;
    this.input = item.node;
    this.source = LOV_SOURCES[item.id] || PROFISSOES;
    this.columns = LOV_COLUMNS[item.id] || null;
    this.rowSel = this.columns ? "tr.a-GV-row[data-id]" : "li.a-IconList-item";
    this.wrap = null;
    this.shown = 0;
    this.loading = false;
    this.fetchSeq = 0;
    byId(item.id + "_lov_btn").addEventListener("click", () => this.open());
    this.input.addEventListener("keydown", (e) => this.onItemKey(e));
  }

  PopupLov.prototype.isOpen = function () {
    return !!this.wrap && this.wrap.style.display !== "none";
  };

  PopupLov.prototype.onItemKey = function (e) {
    if (this.input.disabled || this.input.readOnly || e.ctrlKey || e.metaKey || e.altKey) return;
    if (e.key === "ArrowDown" || e.key === "ArrowUp") {
      e.preventDefault();
      this.open();
    } else if (e.key.length === 1) {
      e.preventDefault();
      this.open(e.key);
    }
  };

  PopupLov.prototype.build = function () {
    const id = this.item.id;
    const wrap = document.createElement("div");
    wrap.className = "ui-dialog ui-corner-all ui-widget ui-widget-content ui-front ui-dialog-popuplov";
    wrap.setAttribute("role", "dialog");
    wrap.setAttribute("tabindex", "-1");
    wrap.setAttribute("aria-labelledby", `ui-id-${id}-title`);
    wrap.setAttribute("aria-describedby", `PopupLov_${PAGE_ID}_${id}_dlg`);
    wrap.innerHTML =
      '<div class="ui-dialog-titlebar ui-corner-all ui-widget-header ui-helper-clearfix">' +
      `<span id="ui-id-${id}-title" class="ui-dialog-title">Search</span>` +
      '<button type="button" class="ui-button ui-corner-all ui-widget ui-button-icon-only ui-dialog-titlebar-close" title="Close">' +
      '<span class="ui-button-icon ui-icon ui-icon-closethick"></span><span class="ui-button-icon-space"> </span>Close</button></div>' +
      `<div id="PopupLov_${PAGE_ID}_${id}_dlg" class="a-PopupLOV-dialog ui-dialog-content ui-widget-content" role="application">` +
      '<div class="a-PopupLOV-searchBar"><input type="text" class="a-PopupLOV-search apex-item-text" aria-label="Search" autocomplete="off">' +
      '<button type="button" class="a-Button a-PopupLOV-doSearch" aria-label="Search"><span class="a-Icon icon-search"></span></button></div>' +
      '<div class="a-PopupLOV-results a-TMV">' + this.listMarkup() +
      '<div class="a-GV-loadMore"><button type="button" class="js-load a-GV-loadMoreButton a-Button">Load More</button></div></div></div>';
    LOV_DOC.body.appendChild(wrap);
    this.wrap = wrap;
    this.search = wrap.querySelector(".a-PopupLOV-search");
    this.results = wrap.querySelector(".a-PopupLOV-results");
    this.list = wrap.querySelector(this.columns ? ".a-GV-bdy tbody" : "ul.a-IconList");
    this.more = wrap.querySelector(".a-GV-loadMoreButton");
    this.busy = delayLinger(() => {
      this.spin = spinner(false);
      this.results.appendChild(this.spin);
    }, () => { if (this.spin) this.spin.remove(); this.spin = null; });
    this.wireDialog();
  };

  // List display: one list of rows. Grid display: a header table (its row has no data-id)
  // over a body table of rows.
  PopupLov.prototype.listMarkup = function () {
    if (!this.columns) return '<ul class="a-IconList" role="listbox"></ul>';
    const heads = this.columns.map(([h]) => `<th class="a-GV-header" role="columnheader">${h}</th>`).join("");
    return '<div class="a-GV"><div class="a-GV-hdr"><table class="a-GV-table" role="presentation">' +
      `<thead><tr class="a-GV-row" role="row">${heads}</tr></thead></table></div>` +
      '<div class="a-GV-bdy"><table class="a-GV-table" role="grid"><tbody></tbody></table></div></div>';
  };

  PopupLov.prototype.makeRow = function (r, rownum) {
    if (!this.columns) {
      const li = document.createElement("li");
      li.className = "a-IconList-item";
      li.setAttribute("role", "option");
      li.setAttribute("tabindex", "-1");
      li.dataset.id = r.id;
      li.textContent = r.d;
      return li;
    }
    const tr = document.createElement("tr");
    tr.className = "a-GV-row";
    tr.setAttribute("role", "row");
    tr.setAttribute("tabindex", "-1");
    tr.dataset.id = r.id;
    tr.dataset.rownum = String(rownum);
    this.columns.forEach(([, field], i) => {
      const td = document.createElement("td");
      td.className = i === 0 ? "a-GV-cell a-GV-rowHeader" : "a-GV-cell";
      td.setAttribute("role", i === 0 ? "rowheader" : "gridcell");
      td.textContent = r[field] == null ? "" : String(r[field]);
      tr.appendChild(td);
    });
    return tr;
  };

  // What a row shows in the item: the display column's cell in grid display.
  PopupLov.prototype.rowDisplay = function (row) {
    const head = this.columns ? row.querySelector(".a-GV-rowHeader") : null;
    return (head || row).textContent;
  };

  PopupLov.prototype.wireDialog = function () {
    let searchTimer = null;
    this.wrap.querySelector(".ui-dialog-titlebar-close").addEventListener("click", () => this.close());
    // Escape closes only while focus is inside the dialog.
    this.wrap.addEventListener("keydown", (e) => {
      if (e.key === "Escape") { e.stopPropagation(); this.close(); }
      if (e.key === "Enter" && e.target.matches(this.rowSel)) this.choose(e.target);
      if (e.key === "ArrowDown" || e.key === "ArrowUp") this.moveFocus(e);
    });
    this.list.addEventListener("click", (e) => {
      const row = e.target.closest(this.rowSel);
      if (row) this.choose(row);
    });
    this.more.addEventListener("click", () => { if (!this.more.disabled) this.fetch(false); });
    this.search.addEventListener("input", () => {
      clearTimeout(searchTimer);
      searchTimer = setTimeout(() => this.fetch(true), 250);
    });
    this.wrap.querySelector(".a-PopupLOV-doSearch").addEventListener("click", () => this.fetch(true));
  };

  PopupLov.prototype.moveFocus = function (e) {
    const rows = Array.from(this.list.children);
    if (!rows.length) return;
    e.preventDefault();
    const at = rows.indexOf(LOV_DOC.activeElement);
    const next = e.key === "ArrowDown" ? Math.min(at + 1, rows.length - 1) : Math.max(at - 1, 0);
    rows[next].focus();
  };

  PopupLov.prototype.open = function (typed) {
    if (this.input.disabled || this.isOpen()) return;
    if (!this.wrap) this.build();
    this.overlay = LOV_DOC.createElement("div");
    this.overlay.className = "ui-widget-overlay ui-front";
    LOV_DOC.body.appendChild(this.overlay);
    this.wrap.style.display = "";
    this.input.setAttribute("aria-expanded", "true");
    this.search.focus();
    if (typed !== undefined) {
      this.search.value = typed;
      this.fetch(true);
    } else if (this.shown === 0 && !this.loading) {
      this.fetch(true);
    }
  };

  PopupLov.prototype.close = function () {
    if (!this.isOpen()) return;
    this.wrap.style.display = "none";
    if (this.overlay) this.overlay.remove();
    this.overlay = null;
    this.input.setAttribute("aria-expanded", "false");
    this.input.focus();
  };

  // A row activated by the user: close first, then set (change fires).
  PopupLov.prototype.choose = function (row) {
    this.close();
    this.item.setValue(row.dataset.id, this.rowDisplay(row));
  };

  // Simulated model fetch: the first page (reset) or the next one.
  PopupLov.prototype.fetch = function (reset) {
    if (this.loading && !reset) return;
    const seq = ++this.fetchSeq;
    this.loading = true;
    serverCall(zv.lovPageMs, this.busy, () => {
      if (seq !== this.fetchSeq) return;
      this.loading = false;
      if (answeredWithLoginPage()) {
        this.more.disabled = true;
        return;
      }
      const term = this.search.value.trim().toLowerCase();
      const rows = this.source.filter((r) => r.d.toLowerCase().includes(term));
      if (zv.lovEndless) {
        for (let n = rows.length; n < this.shown + 2 * LOV_PAGE_SIZE; n++) {
          rows.push({ id: String(900000 + n), d: `Opção ${n}` });
        }
      }
      if (reset) { this.list.innerHTML = ""; this.shown = 0; }
      rows.slice(this.shown, this.shown + LOV_PAGE_SIZE).forEach((r) => {
        this.shown += 1;
        this.list.appendChild(this.makeRow(r, this.shown));
      });
      this.more.disabled = this.shown >= rows.length;
    });
  };

  // ---------------------------------------------------------------- cascading select

  // A change of the parent refreshes the child as APEX 24.2 does: apexbeforerefresh on the
  // child, its options emptied (the null option kept), one server call (counted in $.active,
  // answered after cascadeMs or the page's latency), then its new options and apexafterrefresh.
  function cascade(parentId, childId, data) {
    const parent = items[parentId], child = items[childId];
    const refresh = refresher(child);
    $(parent.node).on("change", () => refresh(zv.cascadeMs, () => data[parent.getValue()] || []));
  }

  // The refresh of a select list item: refresh(ms, pairs) empties it, asks the "server" and
  // fills in the [value, text] pairs pairs() gives when the answer comes; a newer refresh
  // wins over one still pending. A radio or check box group is emptied the same way and gets
  // back the markup of its options (pairs() gives it as one string in a list), as APEX renders
  // a group's options on the server.
  function refresher(child) {
    const busy = inlineBusy(child.node);
    let seq = 0;
    const fill = (pairs) => {
      if (child.node.tagName !== "SELECT") { child.node.innerHTML = pairs.join(""); return; }
      child.node.innerHTML = (child.node.multiple ? "" : '<option value=""></option>') +
        pairs.map(([v, t]) => `<option value="${v}">${t}</option>`).join("");
    };
    return (ms, pairs) => {
      const mine = ++seq;
      $(child.node).trigger("apexbeforerefresh");
      fill([]);
      serverCall(ms, busy, () => {
        if (mine !== seq || answeredWithLoginPage()) return;
        fill(pairs());
        $(child.node).trigger("apexafterrefresh");
      });
    };
  }
  const refreshers = {};

  // ---------------------------------------------------------------- grids

  const grids = {};

  // A grid region with a row editor: add opens the editor, save records the row.
  function grid(prefix, savedKey, columnIds) {
    const add = byId(prefix + "_ADD"), save = byId(prefix + "_SAVE");
    const editor = byId(prefix + "_EDITOR"), body = byId(prefix + "_ROWS");
    const region = add.closest(".t-Region");
    const st = { editing: false, open: false, saving: false, blocked: false };
    const refresh = () => {
      add.disabled = st.editing || st.saving || st.blocked;
      save.disabled = !st.open || st.saving;
    };
    const clearEditor = () => columnIds.forEach((id) => items[id]._clear());
    add.addEventListener("click", () => {
      if (add.disabled) return;
      st.editing = true;
      refresh();
      setTimeout(() => { clearEditor(); editor.hidden = false; st.open = true; refresh(); }, 300);
    });
    save.addEventListener("click", () => {
      if (save.disabled) return;
      st.saving = true;
      refresh();
      $.active += 1;
      pageSpinner(region, answerMs(500)).then(() => {
        const row = {}, cells = [];
        columnIds.forEach((id) => {
          row[id] = items[id].getValue();
          const shown = items[id]._shown();
          cells.push(Array.isArray(shown) ? shown.join(", ") : shown);
        });
        zv.saved[savedKey].push(row);
        const tr = document.createElement("tr");
        cells.forEach((c) => { const td = document.createElement("td"); td.textContent = c; tr.appendChild(td); });
        body.appendChild(tr);
        byId(prefix + "_EMPTY").hidden = true;
        clearEditor();
        editor.hidden = true;
        Object.assign(st, { editing: false, open: false, saving: false });
        refresh();
      }).finally(() => { $.active -= 1; });
    });
    grids[prefix] = { block(on) { st.blocked = !!on; refresh(); } };
    refresh();
  }

  // ---------------------------------------------------------------- late items

  function showLater() {
    if (!byId("P1_OCULTO_CONTAINER")) return;
    setTimeout(() => { byId("P1_OCULTO_CONTAINER").style.display = ""; }, LATE_MS);
    setTimeout(() => {
      const tpl = byId("P1_TARDIO_TEMPLATE");
      const slot = byId("P1_TARDIO_SLOT");
      slot.appendChild(tpl.content.cloneNode(true));
      registerItems(slot);
    }, LATE_MS);
  }

  // ---------------------------------------------------------------- page submit, server calls

  // APEX's page submit: the request goes into p_request and the form is posted to its
  // action (form.submit(), a real navigation); with submitAjax the form's data is posted by
  // ajax to wwv_flow.accept instead, as a page that reloads only on success does: its JSON
  // answer either redirects ({redirectURL}) or brings the errors to show ({errors}).
  function submitPage(request) {
    const form = byId("wwvFlowForm");
    const entry = { request: request || "", ajax: !!zv.submitAjax, result: null };
    zv.submits.push(entry);
    form.elements.p_request.value = entry.request;
    if (!zv.submitAjax) {
      form.submit();
      return;
    }
    const body = new URLSearchParams(new FormData(form));
    fetch("wwv_flow.accept", { method: "POST", body }).then(
      (r) => { entry.result = r.status; return r.ok ? r.json().catch(() => null) : null; },
      (e) => { entry.result = "erro: " + String((e && e.message) || e); return null; })
      .then((answer) => {
        if (answer && answer.errors && window.apex.message) window.apex.message.showErrors(answer.errors);
        else if (answer && answer.redirectURL) location.href = answer.redirectURL;
      });
  }

  // An ajax call to an application process, as apex.server.process makes it.
  function serverProcess(name) {
    const body = new URLSearchParams({ p_request: "APPLICATION_PROCESS=" + name, p_flow_id: "100", p_flow_step_id: "1" });
    $.active += 1;
    return fetch("wwv_flow.ajax", { method: "POST", body }).then((r) => r.text()).then(
      (text) => { zv.ajaxResults.push({ name, ok: true, text }); return text; },
      (e) => { zv.ajaxResults.push({ name, ok: false, error: String((e && e.message) || e) }); })
      .finally(() => { $.active -= 1; });
  }

  // ---------------------------------------------------------------- test API

  let requestSeq = 0;

  function valueOf(id) {
    const v = apexItem(id).getValue();
    return Array.isArray(v) ? v.slice() : v;
  }

  Object.assign(zv, {
    reset() {
      zv.calls.length = 0; zv.events.length = 0; zv.da.length = 0;
      zv.submits.length = 0; zv.ajaxResults.length = 0;
    },
    value: valueOf,
    display(id) {
      if (items[id]) return items[id]._shown();
      const el = byId(id);
      return el && "value" in el ? el.value : null;
    },
    dom(id) {
      const el = byId(id);
      if (!el) return null;
      if (el.matches(".apex-item-radio, .apex-item-checkbox")) {
        return Array.from(el.querySelectorAll("input:checked")).map((i) => i.value);
      }
      if (el.tagName === "SELECT" && el.multiple) {
        return Array.from(el.selectedOptions).map((o) => o.value);
      }
      return "value" in el ? el.value : null;
    },
    state() {
      const out = {};
      Object.keys(items).forEach((id) => { out[id] = valueOf(id); });
      return out;
    },
    busy(ms) { pageSpinner(document.body, ms); },
    request(ms, item) {
      const n = ++requestSeq;
      const anchor = byId(item || "P1_NOME");
      serverCall(ms == null ? 2000 : ms, inlineBusy(anchor.closest(".apex-item-group") || anchor),
        () => { zv.requestsDone.push(n); });
    },
    blockAdd(prefix, on) { grids[prefix].block(on); },
    refresh(id, ms) {
      const node = byId(id);
      const pairs = node.tagName !== "SELECT" ? [node.innerHTML]
        : Array.from(node.options).filter((o) => o.value !== "").map((o) => [o.value, o.text]);
      (refreshers[id] = refreshers[id] || refresher(items[id]))(ms == null ? zv.cascadeMs : ms, () => pairs);
    },
    expireSession() { zv.sessionExpired = true; },
  });

  // For the widget families kept in files of their own (ig.js), and pages of their own that
  // set up a row-editor grid (grid(prefix, savedKey, columnIds)): the pieces they build on.
  Object.defineProperty(zv, "standin", {
    value: { $, registerItem, serverCall, delayLinger, answerMs, spinner, grid },
  });

  // ---------------------------------------------------------------- start up

  function exposeApex() {
    const apex = {
      items: LEGACY ? {} : items, item: apexItem, jQuery: $,
      submit: (opts) => submitPage(typeof opts === "string" ? opts : (opts && opts.request) || ""),
      server: { process: (name) => serverProcess(name) },
    };
    if (!LEGACY) apex.env = { APEX_VERSION };
    window.apex = apex;
    window.$s = (id, v, d, suppress) => apexItem(id).setValue(v, d, suppress);
    window.$v = (id) => {
      const v = apexItem(id).getValue();
      return Array.isArray(v) ? v.join(":") : v;
    };
  }

  function init() {
    registerItems(document);
    wireLegacyDatePickers();
    // The demo form's cascade and grids; another page may have none of them.
    if (items.P1_PAIS && items.P1_ESTADO) cascade("P1_PAIS", "P1_ESTADO", ESTADOS);
    if (byId("TIT_ADD")) grid("TIT", "titulares", ["P2_TIT_NOME", "P2_TIT_NASC", "P2_TIT_TIPO", "P2_TIT_VINCULO", "P2_TIT_PROF"]);
    if (byId("BEN_ADD")) grid("BEN", "beneficiarios", ["P3_BEN_NOME", "P3_BEN_PARENTESCO", "P3_BEN_PERC", "P3_BEN_NASC"]);
    const send = byId("ENVIAR");
    if (send) {
      send.addEventListener("click", () => pageSpinner(document.body, 500).then(() => {
        byId("ZV_MSG").hidden = false;
      }));
    }
    const submit = byId("SUBMETER");
    if (submit) submit.addEventListener("click", () => submitPage("SUBMIT"));
    if (new URLSearchParams(location.search).get("noapex") !== "1") exposeApex();
    showLater();
    zv.ready = true;
  }

  if (document.readyState === "loading") document.addEventListener("DOMContentLoaded", init);
  else init();
})();
