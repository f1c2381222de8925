// fCtMapearPagina: writes a mapping from the live page. Waits until the page is ready to be
// read (esperar_pagina.js), asks it for its items and row-editor regions (ler_itens.js), then
// decides here, for every item, the widget kind the fills use (from APEX's item_type, else
// from the markup), the data column name and the value the page holds now. Nothing in the
// page is changed. An Interactive Grid's section names its toolbar buttons by data-action
// (ler_ig.js).
//
// Result: {"mapa", "dados", "itens", "grelhas", "pagina", "problema"}:
//   mapa      column -> {"WebSel", "ColTipo", "Rotulo"[, "Formato"]} in page order, simple
//             fields only ("Rotulo" and "Formato" are extra keys the fills carry along);
//   dados     column -> the value the page holds now, as the fills expect it, and
//             "RepAtivarPreenc": 0;
//   itens     one row per item: {"item", "coluna", "rotulo", "tipo_apex", "tipo", "destino",
//             "motivo"}, "destino" being "mapa", "grelha" (the item of a row editor) or
//             "fora" (not written; "motivo" says why);
//   grelhas   one per region that looks like a row editor: {"regiao", "titulo", "secao",
//             "inserir", "gravar", "esqueleto"}, the skeleton a section of the mapping;
//   pagina    {"url", "titulo", "apex", "versao", "registo", "pronta", "login"};
//   problema  None, or why the page cannot be mapped (not APEX, a login page, no items).
#include "conferencia.hpp"

#include <cctype>
#include <set>

namespace zv::vc::cf {

namespace {

constexpr long long kQuietMs = 1500;  // no change in the page for this long: it is in place

// One decision of the kind table: a kind, or why the item is not written.
struct Decision {
  Kind kind = Kind::none;
  std::string why;  // empty when `kind` is a kind the fills take
};
Decision take(Kind k) { return {k, {}}; }
Decision refuse(std::string why) { return {Kind::none, std::move(why)}; }

// `cls` (space-separated class names) holds `name`.
bool has_class(const std::string& cls, std::string_view name) {
  std::size_t at = 0;
  while ((at = cls.find(name, at)) != std::string::npos) {
    bool start = at == 0 || cls[at - 1] == ' ';
    std::size_t end = at + name.size();
    if (start && (end == cls.size() || cls[end] == ' ')) return true;
    at = end;
  }
  return false;
}

// The facts of one item that the kind table reads.
struct Item {
  std::string id, item_type, tag, type, cls;
  bool multiple, hidden_value;
  long long options;
  std::string option_type;
};

// The widget from the markup alone (APEX 20.x, pages without the registry, plug-ins).
Decision from_markup(const Item& it) {
  const std::string& c = it.cls;
  if (it.tag == "a-date-picker" || it.tag == "oj-input-date" || has_class(c, "apex-item-datepicker") ||
      has_class(c, "apex-item-datepicker-jet") || has_class(c, "hasDatepicker") || has_class(c, "datepicker"))
    return take(Kind::date);
  if (has_class(c, "apex-item-popup-lov"))
    return it.hidden_value ? take(Kind::popuplovid)
                           : refuse("lista popup sem valor de retorno (sem " + it.id + "_HIDDENVALUE)");
  bool radio = has_class(c, "apex-item-radio") || has_class(c, "radio_group") || it.option_type == "radio";
  bool boxes = has_class(c, "apex-item-checkbox") || has_class(c, "checkbox_group") || it.option_type == "checkbox";
  if (radio || boxes) {
    if (it.options == 0) return refuse("grupo de opções sem as opções " + it.id + "_0, " + it.id + "_1, …");
    return take(radio ? Kind::radio : Kind::checkboxmultiple);
  }
  if (has_class(c, "apex-item-shuttle") || has_class(c, "shuttle")) return refuse("lista de transferência (shuttle)");
  if (it.tag == "select" || it.tag == "a-select") return take(it.multiple ? Kind::multiselect : Kind::dropdownlist);
  if (it.tag == "a-rich-text-editor" || has_class(c, "apex-item-rich-text-editor") || has_class(c, "rich_text_editor"))
    return refuse("editor de texto formatado");
  if (it.tag == "textarea") return take(Kind::textarea);
  if (it.tag == "a-color-picker" || has_class(c, "apex-item-color-picker") || it.type == "color")
    return refuse("seletor de cor");
  if (it.type == "file" || has_class(c, "apex-item-file")) return refuse("carregamento de ficheiro");
  if (it.tag == "input") {
    if (has_class(c, "apex-item-yes-no")) return take(Kind::toggle_switch);
    if (it.type == "checkbox" && has_class(c, "apex-item-single-checkbox")) return take(Kind::single_checkbox);
    if (it.type == "checkbox" || it.type == "radio") return refuse("caixa de seleção única");
    if (it.type == "password") return refuse("palavra-passe");
    static constexpr const char* kTextTypes[] = {"text", "search", "email", "tel", "url", "number"};
    for (const char* t : kTextTypes)
      if (it.type == t) return take(has_class(c, "apex-item-autocomplete") ? Kind::autocomplete : Kind::text);
  }
  return refuse("elemento <" + it.tag + "> que nenhum preenchimento sabe preencher");
}

struct TypeRule {
  const char* item_type;
  Kind kind;           // Kind::none: refused with `why`, or (why nullptr) decided by the markup
  const char* why;
};

// APEX's item_type, where it decides by itself. TEXT and NUMBER go to the markup: a 20.x date
// picker is a TEXT item, and the autocomplete shows only in its class.
constexpr TypeRule kTypeRules[] = {
    {"TEXTAREA", Kind::textarea, nullptr},
    {"AUTOCOMPLETE", Kind::autocomplete, nullptr},
    {"RADIO_GROUP", Kind::radio, nullptr},
    {"CHECKBOX_GROUP", Kind::checkboxmultiple, nullptr},
    {"DATE_PICKER", Kind::date, nullptr},
    {"POPUP_KEY_LOV", Kind::popuplovid, nullptr},
    {"SHUTTLE", Kind::none, "lista de transferência (shuttle)"},
    {"RICH_TEXT_EDITOR", Kind::none, "editor de texto formatado"},
    {"FILE_UPLOAD", Kind::none, "carregamento de ficheiro"},
    {"COLOR_PICKER", Kind::none, "seletor de cor"},
    {"SINGLE_CHECKBOX", Kind::single_checkbox, nullptr},
    {"SWITCH", Kind::toggle_switch, nullptr},
    {"YES_NO", Kind::toggle_switch, nullptr},
    {"COMBOBOX", Kind::none, "caixa de combinação (combobox)"},
    {"PASSWORD", Kind::none, "palavra-passe"},
};

Decision widget(const Item& it) {
  // SEARCHABLE_SELECT: Select One / Select Many (<a-select>, multi-value for the latter)
  if (it.item_type == "SELECT" || it.item_type == "SEARCHABLE_SELECT")
    return take(it.multiple ? Kind::multiselect : Kind::dropdownlist);
  if (it.item_type == "POPUP_LOV")  // a popup LOV without a display column keeps no return value apart
    return it.hidden_value ? take(Kind::popuplovid)
                           : refuse("lista popup sem valor de retorno (sem " + it.id + "_HIDDENVALUE)");
  for (const TypeRule& r : kTypeRules) {
    if (it.item_type != r.item_type) continue;
    if (r.kind == Kind::textarea && (it.tag == "a-rich-text-editor" || has_class(it.cls, "apex-item-rich-text-editor")))
      return refuse("editor de texto formatado");
    return r.why ? refuse(r.why) : take(r.kind);
  }
  return from_markup(it);
}

// Why an item is not filled whatever its widget (empty: it can be).
std::string state_reason(const Item& it, PyObject* facts) {
  const std::string& t = it.item_type;
  if (t == "HIDDEN" || (it.tag == "input" && it.type == "hidden" && !fact_true(facts, "displayOnly")))
    return "item oculto";
  if (t == "DISPLAY_ONLY" || t == "DISPLAY_SAVES_STATE" || fact_true(facts, "displayOnly"))
    return "só de exibição";
  if (t == "READ_ONLY" || fact_true(facts, "readonly")) return "só de leitura";
  return {};
}

// The data column for an item id: without the page prefix (P10_NOME -> NOME), a suffix
// _2, _3, ... when that name is taken.
std::string column_for(const std::string& id, std::set<std::string>& taken) {
  std::string base = id;
  if (id.size() > 2 && id[0] == 'P' && std::isdigit(static_cast<unsigned char>(id[1]))) {
    std::size_t i = 1;
    while (i < id.size() && std::isdigit(static_cast<unsigned char>(id[i]))) ++i;
    if (i + 1 < id.size() && id[i] == '_') base = id.substr(i + 1);
  }
  std::string name = base;
  for (int n = 2; taken.count(name); ++n) name = base + "_" + std::to_string(n);
  taken.insert(name);
  return name;
}

// The first checked option's position as text, "" when none is checked.
Ref first_position(PyObject* facts) {
  Ref checked = fact(facts, "checked");
  if (PyList_Check(checked.get()) && PyList_GET_SIZE(checked.get()) > 0)
    return str(PyList_GET_ITEM(checked.get(), 0));
  return text("");
}

// The value the page holds now, as the data file gives it for `k`.
Ref template_value(Kind k, PyObject* facts) {
  if (k == Kind::radio || k == Kind::checkboxmultiple) return first_position(facts);
  Ref v = fact(facts, "value");
  if (k == Kind::multiselect) {
    if (PyList_Check(v.get())) return check(PySequence_List(v.get()));
    if (v.get() == Py_None || is_blank(v.get())) return check(PyList_New(0));
    Ref sep = text(":");
    return check(PyUnicode_Split(str(v.get()).get(), sep.get(), -1));
  }
  if (v.get() == Py_None) return text("");
  if (PyList_Check(v.get())) {
    Ref sep = text(":");
    return check(PyUnicode_Join(sep.get(), v.get()));
  }
  return str(v.get());
}

// A field configuration of the mapping.
Ref field_config(const std::string& id, Kind k, PyObject* facts, bool grid) {
  Row cfg;
  cfg.put("WebSel", "#" + id);
  cfg.put("ColTipo", grid && is_text_kind(k) ? "text" : kind_name(k));
  std::string label = fact_text(facts, "label");
  if (!label.empty()) cfg.put("Rotulo", label);
  std::string format = fact_text(facts, "format");
  if (k == Kind::date && !format.empty()) cfg.put("Formato", format);
  return Ref::borrow(cfg.get());
}

bool grid_fills(Kind k) { return k != Kind::radio && k != Kind::multiselect && k != Kind::none; }

// A region that looks like a row editor: its skeleton, filled in as its items come.
struct Editor {
  PyObject* facts;
  std::string secao, add_key, save_key;
  Ref columns;  // dict column -> config
  std::set<std::string> taken;
};

bool folded_contains(const std::string& s, std::string_view what) {
  std::string low;
  for (char ch : s) low += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return low.find(what) != std::string::npos;
}

void put(PyObject* dict, const std::string& key, PyObject* value) {
  Ref k = text(key);
  check(PyDict_SetItem(dict, k.get(), value));
}

// A row editor the scan found around an Interactive Grid's toolbar (its region div.a-IG#<id>_ig).
bool any_interactive_grid(PyObject* editor_facts) {
  if (!PyList_Check(editor_facts)) return false;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(editor_facts); ++i) {
    std::string id = fact_text(PyList_GET_ITEM(editor_facts, i), "id");
    if (id.size() > 3 && id.compare(id.size() - 3, 3, "_ig") == 0) return true;
  }
  return false;
}

// An Interactive Grid (ler_ig.js) stands in for the row editor the scan found around its
// toolbar: the region's static id and title, and its buttons by their data-action.
void take_interactive_grids(PyObject* editor_facts, PyObject* igs) {
  if (!PyList_Check(editor_facts) || !PyList_Check(igs)) return;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(editor_facts); ++i) {
    PyObject* ef = PyList_GET_ITEM(editor_facts, i);
    for (Py_ssize_t j = 0; j < PyList_GET_SIZE(igs); ++j) {
      PyObject* ig = PyList_GET_ITEM(igs, j);
      if (!PyDict_Check(ef) || fact_text(ef, "id").empty() || fact_text(ef, "id") != fact_text(ig, "ig")) continue;
      check(PyDict_SetItemString(ef, "id", fact(ig, "regiao").get()));
      check(PyDict_SetItemString(ef, "title", fact(ig, "titulo").get()));
      check(PyDict_SetItemString(ef, "add", fact(ig, "add").get()));
      check(PyDict_SetItemString(ef, "save", fact(ig, "save").get()));
    }
  }
}

Ref button(PyObject* facts, const char* key) {
  Row b;
  Ref sel = fact(facts, key);
  b.put("WebSel", sel.get() == Py_None ? text("#?") : sel);
  return Ref::borrow(b.get());
}

}  // namespace

Task<Ref> fCtMapearPagina(Call c) {
  PyObject* pPage = c.arg(0);
  PyObject* pEspera = c.arg(1);
  if (debug_on()) log_info(text("fCtMapearPagina -> Inicio do mapeamento da pagina"));

  Ref quiet = integer(kQuietMs);
  Ref settled = co_await pg::evaluate(pPage, ZC_SCRIPT(esperar_pagina), pg::list(pEspera, quiet.get()).get());
  Ref page = co_await pg::evaluate(pPage, ZC_SCRIPT(ler_itens));
  if (!PyDict_Check(page.get())) raise_new(PyExc_RuntimeError, text("fCtMapearPagina: a página não respondeu"));

  Ref mapa = check(PyDict_New());
  Ref dados = check(PyDict_New());
  Ref itens = check(PyList_New(0));
  Ref grelhas = check(PyList_New(0));
  std::set<std::string> taken = {"Representantes", "Titulares", "Beneficiarios", "RepAtivarPreenc"};

  // The row editors, their sections guessed from the region's title.
  std::vector<Editor> editors;
  Ref editor_facts = fact(page.get(), "editors");
  if (any_interactive_grid(editor_facts.get())) {
    Ref igs = co_await pg::evaluate(pPage, ZC_SCRIPT(ler_ig));
    take_interactive_grids(editor_facts.get(), igs.get());
  }
  if (PyList_Check(editor_facts.get())) {
    bool has_holders = false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(editor_facts.get()); ++i) {
      PyObject* ef = PyList_GET_ITEM(editor_facts.get(), i);
      bool ben = folded_contains(fact_text(ef, "title"), "benefici") || has_holders;
      has_holders = has_holders || !ben;
      editors.push_back({ef, ben ? "Beneficiarios" : "Titulares", ben ? "BenInserir" : "TitInserir",
                         ben ? "BenGravar" : "TitGravar", check(PyDict_New()), {}});
      Ref add = button(ef, "add");
      put(editors.back().columns.get(), editors.back().add_key, add.get());
    }
  }

  Ref items = fact(page.get(), "items");
  Py_ssize_t mapped = 0, left_out = 0, in_grids = 0;
  if (PyList_Check(items.get())) {
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
      PyObject* f = PyList_GET_ITEM(items.get(), i);
      Item it{fact_text(f, "id"), fact_text(f, "itemType"), fact_text(f, "tag"), fact_text(f, "type"),
              fact_text(f, "cls"), fact_true(f, "multiple"), fact_true(f, "hiddenValue"), fact_int(f, "options"),
              fact_text(f, "optionType")};
      for (char& ch : it.item_type) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      long long editor = fact_int(f, "editor");
      Decision d = widget(it);
      std::string why = state_reason(it, f);
      if (why.empty()) why = d.why;
      if (why.empty() && editor >= 0 && static_cast<std::size_t>(editor) < editors.size() && !grid_fills(d.kind))
        why = "a grelha não preenche o tipo " + std::string(kind_name(d.kind));
      if (why.empty() && (editor < 0 || static_cast<std::size_t>(editor) >= editors.size())) {
        if (fact_true(f, "disabled")) why = "desabilitado";
        else if (!fact_true(f, "visible")) why = "não está visível";
      }

      Row row;
      row.put("item", it.id);
      std::string destino = "fora";
      std::string col;
      if (why.empty() && editor >= 0 && static_cast<std::size_t>(editor) < editors.size()) {
        Editor& e = editors[static_cast<std::size_t>(editor)];
        col = column_for(it.id, e.taken);
        Ref cfg = field_config(it.id, d.kind, f, true);
        put(e.columns.get(), col, cfg.get());
        destino = "grelha";
        ++in_grids;
      } else if (why.empty()) {
        col = column_for(it.id, taken);
        Ref cfg = field_config(it.id, d.kind, f, false);
        put(mapa.get(), col, cfg.get());
        Ref value = template_value(d.kind, f);
        put(dados.get(), col, value.get());
        destino = "mapa";
        ++mapped;
      } else {
        ++left_out;
      }
      row.put("coluna", col.empty() ? none() : text(col));
      row.put("rotulo", fact(f, "label"));
      row.put("tipo_apex", it.item_type.empty() ? none() : text(it.item_type));
      row.put("tipo", d.kind == Kind::none ? none() : text(kind_name(d.kind)));
      row.put("destino", destino);
      row.put("motivo", why.empty() ? none() : text(why));
      check(PyList_Append(itens.get(), row.get()));
      if (debug_on())
        log_level(why.empty() ? 0 : 1,
                  message("fCtMapearPagina -> ", std::string_view(it.id), ": ",
                          std::string_view(why.empty() ? std::string(kind_name(d.kind)) + " (" + destino + ")"
                                                       : "fora do mapa: " + why)));
    }
  }
  Ref zero = integer(0);
  check(PyDict_SetItemString(dados.get(), "RepAtivarPreenc", zero.get()));

  for (Editor& e : editors) {
    Ref save = button(e.facts, "save");
    put(e.columns.get(), e.save_key, save.get());
    Row g;
    g.put("regiao", fact(e.facts, "id"));
    g.put("titulo", fact(e.facts, "title"));
    g.put("secao", e.secao);
    g.put("inserir", fact(e.facts, "add"));
    g.put("gravar", fact(e.facts, "save"));
    Row skeleton;
    skeleton.put(e.secao.c_str(), e.columns);
    g.put("esqueleto", Ref::borrow(skeleton.get()));
    check(PyList_Append(grelhas.get(), g.get()));
  }

  const bool apex = fact_true(page.get(), "apex");
  const bool login = fact_true(page.get(), "login");
  const Py_ssize_t n_items = PyList_Check(items.get()) ? PyList_GET_SIZE(items.get()) : 0;
  Row pagina;
  pagina.put("url", fact(page.get(), "url"));
  pagina.put("titulo", fact(page.get(), "title"));
  pagina.put("apex", Ref::borrow(apex ? Py_True : Py_False));
  pagina.put("versao", fact(page.get(), "version"));
  pagina.put("registo", Ref::borrow(fact_true(page.get(), "registry") ? Py_True : Py_False));
  pagina.put("pronta", Ref::borrow(fact_true(settled.get(), "ready") ? Py_True : Py_False));
  pagina.put("login", Ref::borrow(login ? Py_True : Py_False));

  Ref problema = none();
  if (login && mapped <= 3)  // a user name and little else: a form with a password field has more
    problema = text("a página pede o início de sessão (tem um campo de palavra-passe): não é o formulário");
  else if (!apex && n_items == 0)
    problema = text("a página não é uma página APEX: não tem window.apex nem itens do APEX");
  else if (mapped == 0 && in_grids == 0)
    problema = text("a página não tem nenhum item do APEX que se possa preencher");

  Row out;
  out.put("mapa", mapa);
  out.put("dados", dados);
  out.put("itens", itens);
  out.put("grelhas", grelhas);
  out.put("pagina", Ref::borrow(pagina.get()));
  out.put("problema", problema);
  if (debug_on())
    log_info(message("fCtMapearPagina -> ", integer(n_items), " itens: ", integer(mapped), " no mapa, ",
                     integer(in_grids), " em grelhas, ", integer(left_out), " fora do mapa"));
  co_return Ref::borrow(out.get());
}

}  // namespace zv::vc::cf
