// fCtConferirForm: the receipt of a fill. Reads every simple field and the representative's
// items back through apex.item(id).getValue() (and the display value of popup LOVs) and
// compares each with the data as its widget kind stores it; reads the rows each grid region
// shows and compares them, cell by cell, with the records. Nothing is changed.
//
// One row per field, grid cell and grid: {"secao", "coluna", "linha", "seletor", "tipo",
// "estado", "esperado", "obtido", "exibido"}, the state being "igual" (filled and equal),
// "vazio" (blank in the data), "diferente" (both values given), "nao_encontrado" (no such
// item, or no grid row for the record) or "nao_conferido" (the page does not let the grid
// cell be read).
#include "conferencia.hpp"
#include "fills/on_off.hpp"
#include "form/mapping.hpp"
#include "lov_home.hpp"

namespace zv::vc::cf {

namespace {

constexpr const char kIgual[] = "igual";
constexpr const char kVazio[] = "vazio";
constexpr const char kDiferente[] = "diferente";
constexpr const char kNaoEncontrado[] = "nao_encontrado";
constexpr const char kNaoConferido[] = "nao_conferido";

struct Tally {
  Py_ssize_t igual = 0, vazio = 0, diferente = 0, nao_encontrado = 0, nao_conferido = 0;
  void count(const char* estado) {
    std::string_view e(estado);
    if (e == kIgual) ++igual;
    else if (e == kVazio) ++vazio;
    else if (e == kDiferente) ++diferente;
    else if (e == kNaoEncontrado) ++nao_encontrado;
    else ++nao_conferido;
  }
};

struct Line {
  const char* secao;
  PyObject* coluna;
  Ref linha;  // the record's number in a grid; None otherwise
  PyObject* seletor;
  PyObject* tipo;
  const char* estado;
  Ref esperado, obtido, exibido;
};

void emit(PyObject* out, Tally& t, const Line& l) {
  Row r;
  r.put("secao", l.secao);
  r.put("coluna", Ref::borrow(l.coluna ? l.coluna : Py_None));
  r.put("linha", l.linha ? l.linha : none());
  r.put("seletor", Ref::borrow(l.seletor ? l.seletor : Py_None));
  r.put("tipo", Ref::borrow(l.tipo ? l.tipo : Py_None));
  r.put("estado", l.estado);
  r.put("esperado", l.esperado ? l.esperado : none());
  r.put("obtido", l.obtido ? l.obtido : none());
  r.put("exibido", l.exibido ? l.exibido : none());
  check(PyList_Append(out, r.get()));
  t.count(l.estado);
  if (debug_on()) {
    std::string_view e(l.estado);
    int level = (e == kIgual || e == kVazio) ? 0 : 1;
    Ref where = l.linha ? message(" (linha ", l.linha, ")") : text("");
    log_level(level, message("fCtConferirForm -> [", l.estado, "] ", l.secao, ".", l.coluna ? l.coluna : Py_None,
                             where, ": esperado ", repr_of(l.esperado ? l.esperado.get() : Py_None),
                             ", na pagina ", repr_of(l.obtido ? l.obtido.get() : Py_None)));
  }
}

Ref got(PyObject* dict, const char* key) {
  Ref v = PyDict_Check(dict) ? dict_get(dict, key) : Ref();
  return v ? v : none();
}

// A list of the texts of a list value; [str(v)] for anything else.
Ref texts_of(PyObject* v) {
  Ref out = check(PyList_New(0));
  if (PyList_Check(v) || PyTuple_Check(v)) {
    Ref seq = check(PySequence_Fast(v, ""));
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.get()); ++i)
      check(PyList_Append(out.get(), str(PySequence_Fast_GET_ITEM(seq.get(), i)).get()));
  } else {
    check(PyList_Append(out.get(), str(v).get()));
  }
  return out;
}

// What the page holds for a multi-value item, as a list of texts (APEX joins with ":").
Ref values_of(PyObject* v) {
  if (v == Py_None) return check(PyList_New(0));
  if (PyList_Check(v) || PyTuple_Check(v)) return texts_of(v);
  Ref s = str(v);
  if (PyUnicode_GET_LENGTH(s.get()) == 0) return check(PyList_New(0));
  Ref colon = text(":");
  return check(PyUnicode_Split(s.get(), colon.get(), -1));
}

bool same_set(PyObject* a, PyObject* b) {
  Ref sa = check(PySequence_List(a));
  Ref sb = check(PySequence_List(b));
  check(PyList_Sort(sa.get()));
  check(PyList_Sort(sb.get()));
  return py_equal(sa.get(), sb.get());
}

// Line breaks as a text area stores them.
Ref unix_lines(PyObject* s) {
  Ref crlf = text("\r\n");
  Ref lf = text("\n");
  return check(PyUnicode_Replace(s, crlf.get(), lf.get(), -1));
}

// The value a switch or a single check box holds for the data's value: its on or its off
// value (the page gave both); empty when the data says neither.
Ref toggle_value(PyObject* value, PyObject* facts) {
  Ref on = got(facts, "on");
  Ref off = got(facts, "off");
  switch (on_off_of(value)) {
    case OnOff::on: return on;
    case OnOff::off: return off;
    case OnOff::own: {
      Ref t = trimmed_text(value);
      if (py_equal(t.get(), on.get()) || py_equal(t.get(), off.get())) return t;
      return Ref();
    }
    case OnOff::invalid: break;
  }
  return Ref();
}

// One simple field or representative's item.
Task<void> field_line(PyObject* page, const char* secao, PyObject* coluna, PyObject* cfg, PyObject* value,
                      PyObject* out, Tally& t) {
  Line l{secao, coluna, Ref(), nullptr, nullptr, kNaoEncontrado, Ref(), Ref(), Ref()};
  Ref sel = PyDict_Check(cfg) ? dict_get(cfg, "WebSel") : Ref();
  Ref tipo = PyDict_Check(cfg) ? dict_get(cfg, "ColTipo") : Ref();
  l.seletor = sel.get();
  l.tipo = tipo.get();
  Kind k = dispatch_kind(tipo.get());
  // A multi-select's empty list is no blank: the fill clears the selection.
  bool cleared = k == Kind::multiselect && (PyList_Check(value) || PyTuple_Check(value));
  bool blank = k == Kind::popuplovid ? lov_blank(value) : !cleared && value_blank(value);
  if (!sel || !PyUnicode_Check(sel.get())) {
    l.esperado = blank ? Ref() : str(value);
    emit(out, t, l);
    co_return;
  }

  Ref id = item_id_of(sel.get());
  Ref suffix = (k == Kind::radio || k == Kind::checkboxmultiple) && !blank ? trimmed_text(value) : none();
  Ref kind = text(kind_name(k));
  Ref r = co_await pg::evaluate(page, ZC_SCRIPT(ler_item), pg::list(sel.get(), id.get(), kind.get(), suffix.get()).get());
  l.obtido = got(r.get(), "value");
  if (k == Kind::popuplovid) l.exibido = got(r.get(), "display");

  // The value as the item's kind stores it.
  Ref want;
  if (blank) {
  } else if (k == Kind::radio || k == Kind::checkboxmultiple) {
    want = truthy(got(r.get(), "optionFound").get()) ? got(r.get(), "option") : Ref();
    if (!want) l.esperado = message(suffix, " (opção inexistente)");
  } else if (k == Kind::multiselect) {
    want = texts_of(value);
  } else if (k == Kind::popuplovid) {
    want = trimmed_text(value);
  } else if (is_toggle_kind(k)) {
    want = toggle_value(value, r.get());
    if (!want) l.esperado = message(value, " (nem ligado nem desligado)");
  } else {
    want = str(value);
  }
  if (want) l.esperado = want;

  if (!truthy(got(r.get(), "found").get())) {
    l.estado = kNaoEncontrado;
  } else if (blank) {
    l.estado = kVazio;
  } else if (!want) {
    l.estado = kDiferente;
  } else {
    bool equal;
    PyObject* have = l.obtido.get();
    if (k == Kind::checkboxmultiple) {
      Ref have_list = values_of(have);
      equal = check(PySequence_Contains(have_list.get(), want.get())) != 0;
    } else if (k == Kind::multiselect) {
      Ref have_list = values_of(have);
      equal = same_set(have_list.get(), want.get());
    } else if (k == Kind::textarea) {
      equal = have != Py_None && py_equal(unix_lines(str(have).get()).get(), unix_lines(want.get()).get());
    } else {
      equal = have != Py_None && !PyList_Check(have) && py_equal(str(have).get(), want.get());
    }
    l.estado = equal ? kIgual : kDiferente;
  }
  emit(out, t, l);
}

// The grid rows of one section, compared with its records.
Task<void> grid_lines(PyObject* page, const char* secao, const char* add, const char* save, PyObject* section,
                      PyObject* records_raw, PyObject* out, Tally& t) {
  std::vector<Ref> records;
  {
    Ref seq = check(PySequence_Fast(records_raw, "os dados da grelha não são uma lista"));
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.get()); ++i) {
      PyObject* rec = PySequence_Fast_GET_ITEM(seq.get(), i);
      records.push_back(PyDict_Check(rec) ? Ref::borrow(rec) : check(PyDict_New()));
    }
  }
  const Py_ssize_t n = static_cast<Py_ssize_t>(records.size());
  Ref add_cfg = dict_get(section, add);
  Ref add_sel = add_cfg && PyDict_Check(add_cfg.get()) ? dict_get(add_cfg.get(), "WebSel") : Ref();
  Ref grid_col = text("linhas gravadas");
  Ref grid_tipo = text("grade");
  Line summary{secao, grid_col.get(), Ref(), add_sel.get(), grid_tipo.get(), kNaoConferido, integer(n), Ref(), Ref()};
  if (!add_sel || !PyUnicode_Check(add_sel.get())) {
    emit(out, t, summary);
    co_return;
  }

  // The columns, with per record the value the grid should have received (None when blank).
  struct Col {
    Ref key, sel, tipo, id, kind;
    Kind k;
    Ref wanted;  // list, one per record
  };
  std::vector<Col> cols;
  Ref request = check(PyList_New(0));
  form::Items entries(section);
  while (entries.next()) {
    PyObject* key = entries.key();
    PyObject* cfg = entries.value();
    if (ascii_eq(key, add) || ascii_eq(key, save)) continue;
    if (!PyDict_Check(cfg)) continue;
    Ref sel = dict_get(cfg, "WebSel");
    if (!sel || !PyUnicode_Check(sel.get())) continue;
    Col col;
    col.key = Ref::borrow(key);
    col.sel = sel;
    col.tipo = dict_get(cfg, "ColTipo");
    Kind gk = grid_kind(col.tipo.get());
    col.k = gk != Kind::none ? gk : dispatch_kind(col.tipo.get());
    col.id = item_id_of(sel.get());
    col.kind = text(kind_name(col.k));
    col.wanted = check(PyList_New(0));
    for (const Ref& rec : records) {
      Ref v = dict_get(rec.get(), key);
      if (!v) v = text("");
      Ref w;
      if (col.k == Kind::popuplovid ? !lov_blank(v.get()) : !value_blank(v.get()))
        w = (col.k == Kind::checkboxmultiple || col.k == Kind::popuplovid) ? trimmed_text(v.get()) : str(v.get());
      check(PyList_Append(col.wanted.get(), w ? w.get() : Py_None));
    }
    check(PyList_Append(request.get(), pg::list(col.id.get(), col.kind.get(), col.wanted.get()).get()));
    cols.push_back(std::move(col));
  }

  // A popup LOV's rows are read where its dialog is (lov_home.hpp): a third element says so.
  Ref gradeArg = lov_in_top(page) ? pg::list(add_sel.get(), request.get(), Py_True)
                                  : pg::list(add_sel.get(), request.get());
  Ref shown = co_await pg::evaluate(page, ZC_SCRIPT(ler_grade), gradeArg.get());
  if (!truthy(got(shown.get(), "readable").get())) {
    emit(out, t, summary);
    co_return;
  }
  Ref rows = got(shown.get(), "rows");
  Ref columns = got(shown.get(), "columns");
  if (!PyList_Check(rows.get()) || !PyList_Check(columns.get())) {
    emit(out, t, summary);
    co_return;
  }
  const Py_ssize_t have = PyList_GET_SIZE(rows.get());
  summary.obtido = integer(have);
  summary.estado = have == n ? kIgual : kDiferente;
  // An Interactive Grid read through its model may hold rows it never saved.
  if (truthy(got(shown.get(), "unsaved").get())) {
    summary.estado = kDiferente;
    summary.exibido = text("alterações por gravar");
  }
  emit(out, t, summary);

  // The records are the last rows the grid shows.
  const Py_ssize_t base = have >= n ? have - n : 0;
  Ref sep = text(", ");
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* cells = base + i < have ? PyList_GET_ITEM(rows.get(), base + i) : nullptr;
    for (std::size_t j = 0; j < cols.size(); ++j) {
      const Col& col = cols[j];
      PyObject* raw = PyList_GET_ITEM(col.wanted.get(), i);
      PyObject* info = static_cast<Py_ssize_t>(j) < PyList_GET_SIZE(columns.get()) ? PyList_GET_ITEM(columns.get(), j) : Py_None;
      Py_ssize_t index = -1;
      Ref idx = got(info, "index");
      if (PyLong_Check(idx.get())) index = PyLong_AsSsize_t(idx.get());
      Ref shown_list = got(info, "shown");
      Ref want = PyList_Check(shown_list.get()) && i < PyList_GET_SIZE(shown_list.get())
                     ? Ref::borrow(PyList_GET_ITEM(shown_list.get(), i))
                     : none();
      Ref cell;
      if (cells && PyList_Check(cells) && index >= 0 && index < PyList_GET_SIZE(cells))
        cell = Ref::borrow(PyList_GET_ITEM(cells, index));
      // A switch or single check box: the data's on/off word as the item's own value, shown
      // as the grid shows that state; a word that says neither is no value of the item.
      bool neither = false;
      if (is_toggle_kind(col.k) && raw != Py_None) {
        Ref value = toggle_value(raw, info);
        if (value)
          want = got(info, py_equal(value.get(), got(info, "on").get()) ? "onShown" : "offShown");
        else
          neither = true;
      }

      Line l{secao, col.key.get(), integer(i + 1), col.sel.get(), col.tipo.get(), kNaoConferido, Ref(), cell, Ref()};
      if (raw == Py_None) {
        l.estado = kVazio;
      } else if (!cells) {
        l.estado = kNaoEncontrado;
        l.esperado = PyUnicode_Check(want.get()) ? want : Ref::borrow(raw);
      } else if (neither) {
        l.estado = kDiferente;
        l.esperado = message(raw, " (nem ligado nem desligado)");
      } else if (want.get() == Py_False) {
        l.estado = kDiferente;
        l.esperado = message(raw, " (opção inexistente)");
      } else if (want.get() == Py_None || !cell) {
        l.estado = kNaoConferido;
        l.esperado = Ref::borrow(raw);
      } else {
        l.esperado = want;
        bool equal = py_equal(cell.get(), want.get());
        if (!equal && col.k == Kind::checkboxmultiple) {
          Ref parts = check(PyUnicode_Split(cell.get(), sep.get(), -1));
          equal = check(PySequence_Contains(parts.get(), want.get())) != 0;
        }
        l.estado = equal ? kIgual : kDiferente;
      }
      emit(out, t, l);
    }
  }
}

}  // namespace

Task<Ref> fCtConferirForm(Call c) {
  PyObject* pPage = c.arg(0);
  PyObject* pDictColsDePara = c.arg(1);
  PyObject* pJsonDados = c.arg(2);
  if (!PyDict_Check(pDictColsDePara)) raise_new(PyExc_TypeError, text("fCtConferirForm -> o mapa nao e um dicionario"));
  if (!PyDict_Check(pJsonDados)) raise_new(PyExc_TypeError, text("fCtConferirForm -> os dados nao sao um dicionario"));
  if (debug_on()) log_info(text("fCtConferirForm -> Inicio da conferencia do formulario"));
  Ref out = check(PyList_New(0));
  Tally t;

  // Every simple field, in the mapping's order (those after a section key included: the
  // receipt shows that they were never reached).
  {
    form::Items entries(pDictColsDePara);
    while (entries.next()) {
      if (is_section_key(entries.key())) continue;
      Ref value = dict_get(pJsonDados, entries.key());
      co_await field_line(pPage, kFormSection, entries.key(), entries.value(), value ? value.get() : Py_None,
                          out.get(), t);
    }
  }

  // The representative, when the fill is meant to fill it.
  Ref flag = dict_get(pJsonDados, "RepAtivarPreenc");
  Ref rep_cfg = dict_get(pDictColsDePara, "Representantes");
  Ref rep = dict_get(pJsonDados, "Representantes");
  if (flag && py_equal(flag.get(), N->one.get()) && rep_cfg && PyDict_Check(rep_cfg.get()) && rep &&
      PyDict_Check(rep.get()) && truthy(rep.get())) {
    form::Items entries(rep_cfg.get());
    while (entries.next()) {
      Ref value = dict_get(rep.get(), entries.key());
      co_await field_line(pPage, "Representantes", entries.key(), entries.value(), value ? value.get() : Py_None,
                          out.get(), t);
    }
  }

  // The grids.
  static constexpr struct {
    const char* key;
    const char* add;
    const char* save;
  } kGrids[] = {{"Titulares", "TitInserir", "TitGravar"}, {"Beneficiarios", "BenInserir", "BenGravar"}};
  for (const auto& g : kGrids) {
    Ref section = dict_get(pDictColsDePara, g.key);
    Ref records = dict_get(pJsonDados, g.key);
    if (!section || !PyDict_Check(section.get()) || !records) continue;
    if (!(PyList_Check(records.get()) || PyTuple_Check(records.get())) || !truthy(records.get())) continue;
    co_await grid_lines(pPage, g.key, g.add, g.save, section.get(), records.get(), out.get(), t);
  }

  if (debug_on())
    log_info(message("fCtConferirForm -> ", integer(PyList_GET_SIZE(out.get())), " linhas: ", integer(t.igual),
                     " iguais, ", integer(t.vazio), " vazias, ", integer(t.diferente), " diferentes, ",
                     integer(t.nao_encontrado), " nao encontradas, ", integer(t.nao_conferido), " nao conferidas"));
  co_return out;
}

}  // namespace zv::vc::cf
