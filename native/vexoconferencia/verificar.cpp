// fCtVerificarMapa: the pre-flight check. Walks the mapping as the whole-form fill would and,
// for every field, button and section, asks the page (one read-only script per selector)
// what the selector finds, then judges that against the declared kind and the data. Nothing
// in the page or in the caller's dictionaries is changed. One finding per field, button or
// section: {"secao", "coluna", "seletor", "tipo", "veredito", "mensagem"}, the verdict "ok",
// "aviso" (the fill runs but something may not land) or "erro" (it will not land, or the
// fill stops); each is also logged.
#include "conferencia.hpp"
#include "fills/on_off.hpp"
#include "form/mapping.hpp"

#include <chrono>
#include <optional>

namespace zv::vc::cf {

namespace {

constexpr const char* kVerdicts[] = {"ok", "aviso", "erro"};

// A finding in the making: its worst level and its messages.
struct Verdict {
  int level = 0;
  std::vector<std::string> msgs;
  void add(int lv, std::string m) {
    if (lv > level) level = lv;
    msgs.push_back(std::move(m));
  }
};

// Items the page renders late (lazily rendered regions, items a dynamic action adds) are
// waited for as the fills wait for an item to be attached, within their default time limit;
// the wait is one budget for the whole check, so a mapping of many absent items costs it once.
constexpr std::chrono::milliseconds kLateBudget{5000};

struct Tally {
  Py_ssize_t n[3] = {0, 0, 0};
  std::optional<std::chrono::steady_clock::time_point> late_until;  // set by the first wait
};

// "1 erro", "2 erros"; `plural` is the singular with an "s" unless given.
std::string count_of(Py_ssize_t n, const char* singular, const char* plural = nullptr) {
  return std::to_string(n) + " " + (n == 1 ? std::string(singular) : plural ? std::string(plural) : std::string(singular) + "s");
}

std::string join(const std::vector<std::string>& parts) {
  std::string s;
  for (const std::string& p : parts) {
    if (!s.empty()) s += "; ";
    s += p;
  }
  return s;
}

std::string quoted(PyObject* o) {
  std::string q(1, '"');
  q += utf8(o);
  q += '"';
  return q;
}

// Appends one finding and logs it.
void emit(PyObject* out, Tally& t, const char* secao, PyObject* coluna, PyObject* seletor, PyObject* tipo,
          const Verdict& v, const char* ok_text) {
  std::string msg = v.msgs.empty() ? std::string(ok_text) : join(v.msgs);
  Row r;
  r.put("secao", secao);
  r.put("coluna", Ref::borrow(coluna ? coluna : Py_None));
  r.put("seletor", Ref::borrow(seletor ? seletor : Py_None));
  r.put("tipo", Ref::borrow(tipo ? tipo : Py_None));
  r.put("veredito", kVerdicts[v.level]);
  r.put("mensagem", msg);
  check(PyList_Append(out, r.get()));
  t.n[v.level] += 1;
  if (debug_on()) {
    Ref m = message("fCtVerificarMapa -> [", kVerdicts[v.level], "] ", secao, ".", coluna ? coluna : Py_None,
                    " (", seletor ? seletor : Py_None, "): ", std::string_view(msg));
    log_level(v.level, m);
  }
}

// A field, a representative's item or a grid column, with the data's values for it.
struct Field {
  const char* secao;
  PyObject* coluna;
  PyObject* cfg;
  bool grid;
  std::vector<Ref> values;  // one per record; one for a simple field or the representative
  bool in_data;             // the data has the column (a grid: some record has it)
  PyObject* after;          // the section key a simple field comes after, or nullptr
};

std::string record_prefix(const Field& f, std::size_t i) {
  return f.grid ? "registo " + std::to_string(i + 1) + ": " : std::string();
}

// The option positions the data names, trimmed, each once, in order.
Ref suffixes_of(const Field& f, Kind k) {
  Ref out = check(PyList_New(0));
  if (k != Kind::radio && k != Kind::checkboxmultiple) return out;
  for (const Ref& v : f.values) {
    if (!v || value_blank(v.get())) continue;
    Ref s = trimmed_text(v.get());
    if (!check(PySequence_Contains(out.get(), s.get()))) check(PyList_Append(out.get(), s.get()));
  }
  return out;
}

// The element the selector found, against the declared kind.
void judge_element(Verdict& v, Kind k, const Field& f, PyObject* facts, PyObject* id) {
  if (fact_true(facts, "invalid")) {
    v.add(2, "seletor inválido: " + fact_text(facts, "error"));
    return;
  }
  long long count = fact_int(facts, "count");
  if (count == 0) v.add(2, "nenhum elemento encontrado com este seletor");
  if (count > 1) v.add(2, std::to_string(count) + " elementos encontrados com este seletor; deve haver exatamente um");

  const std::string ids = utf8(id);
  if (k == Kind::radio || k == Kind::checkboxmultiple) {
    long long options = fact_int(facts, "options");
    if (options == 0) {
      v.add(2, "nenhuma opção " + ids + "_0, " + ids + "_1, … encontrada");
    } else {
      const char* want = k == Kind::radio ? "radio" : "checkbox";
      Ref types = fact(facts, "optionTypes");
      Ref w = text(want);
      if (PyList_Check(types.get()) && !check(PySequence_Contains(types.get(), w.get())))
        v.add(1, "as opções não são do tipo " + std::string(want) + " que \"" + kind_name(k) + "\" espera");
    }
  }
  if (k == Kind::popuplovid && !fact_true(facts, "lovButton"))
    v.add(2, "botão " + ids + "_lov_btn não encontrado: o preenchimento não consegue abrir a lista");
  if (count == 0) return;

  const std::string tag = fact_text(facts, "tag");
  const std::string type = fact_text(facts, "type");
  const bool group = fact_true(facts, "group");
  if (is_text_kind(k)) {
    static constexpr const char* kTextTypes[] = {"text", "search", "email", "tel", "url", "number", "password"};
    bool texty = tag == "textarea";
    if (tag == "input")
      for (const char* t : kTextTypes) texty = texty || type == t;
    if (texty) {
    } else if (tag == "input" && type == "hidden") {
      v.add(2, "é um input oculto (item só de leitura?): o preenchimento espera que fique visível e desiste");
    } else if (tag == "input" && (type == "radio" || type == "checkbox")) {
      v.add(2, "é uma opção de escolha: use \"radio\" ou \"checkboxmultiple\"");
    } else if (tag == "input") {
      v.add(1, "é um input do tipo " + type);
    } else if (tag == "select" || tag == "a-select") {
      // a Select One takes a typed text without a word, and keeps it as an invalid value
      v.add(2, "é uma lista de seleção: use \"dropdownlist\" ou \"multiselect\"");
    } else if (tag == "a-date-picker") {
      v.add(1, "é um seletor de data: use \"datepicker\"");
    } else if (group) {
      v.add(2, "é um grupo de opções: use \"radio\" ou \"checkboxmultiple\"");
    } else {
      v.add(2, "o elemento <" + tag + "> não é um campo de texto");
    }
  } else if (is_toggle_kind(k)) {
    if (!fact_true(facts, "toggle"))
      v.add(2, "o elemento <" + tag + "> não é um interruptor (switch) nem uma caixa de seleção única");
  } else if (k == Kind::dropdownlist) {
    if (tag != "select" && tag != "a-select") v.add(2, "o elemento <" + tag + "> não é uma lista de seleção");
    else if (fact_true(facts, "multiple"))
      v.add(1, "lista de escolha múltipla: \"dropdownlist\" escolhe um só valor (use \"multiselect\")");
  } else if (k == Kind::multiselect) {
    if (tag == "select" || tag == "a-select") {
      if (!fact_true(facts, "multiple")) v.add(2, "lista de escolha simples: \"multiselect\" pede uma lista múltipla");
    } else if (!group) {
      v.add(2, "o elemento <" + tag + "> não é uma lista de escolha múltipla");
    }
  } else if (k == Kind::popuplovid) {
    if (tag != "input") v.add(1, "o elemento <" + tag + "> não é o campo de uma lista popup");
  } else if (k == Kind::date) {
    if (!fact_true(facts, "datePicker")) v.add(1, "não parece um seletor de data");
  }

  if (fact_true(facts, "disabled") && !group) v.add(1, "desabilitado agora: o preenchimento não o altera");
  if (!f.grid && !fact_true(facts, "visible") && !(tag == "input" && type == "hidden"))
    v.add(1, "não está visível agora: o preenchimento espera que apareça");
  if (fact_true(facts, "apex") && !fact_true(facts, "apexItem")) v.add(1, "o APEX não conhece este item");
}

// The data's values, against the declared kind and what the page said about it.
void judge_values(Verdict& v, Kind k, const Field& f, PyObject* facts, PyObject* suffixes) {
  bool any_value = false;
  bool unknown_format = false;
  const std::string format = facts ? fact_text(facts, "format") : std::string();
  Ref suffix_facts = facts ? fact(facts, "suffixes") : none();
  for (std::size_t i = 0; i < f.values.size(); ++i) {
    PyObject* val = f.values[i] ? f.values[i].get() : Py_None;
    const std::string at = record_prefix(f, i);
    if (k == Kind::multiselect) {
      if (val == Py_None) {
        if (f.in_data) v.add(2, at + "sem valor: o preenchimento de uma lista múltipla pararia com erro");
        continue;
      }
      if (PyUnicode_Check(val)) {
        v.add(1, at + "o valor é um texto: cada letra seria uma opção (use uma lista)");
        any_value = true;
        continue;
      }
      PyObject* it = PyObject_GetIter(val);
      if (!it) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw_current();
        PyErr_Clear();
        v.add(2, at + "o valor " + repr8(val) + " não é uma lista: o preenchimento pararia com erro");
        continue;
      }
      Py_DECREF(it);
      any_value = true;  // an empty list is a value: the fill clears the selection
      if (value_blank(val)) v.add(0, at + "lista vazia: o preenchimento limpa a seleção");
      continue;
    }
    if (k == Kind::popuplovid ? lov_blank(val) : value_blank(val)) continue;
    any_value = true;
    if ((is_text_kind(k) || k == Kind::dropdownlist || k == Kind::date) &&
        (PyList_Check(val) || PyDict_Check(val) || PyTuple_Check(val)))
      v.add(1, at + "valor composto: seria escrito como o texto " + repr8(val));
    if (k == Kind::radio || k == Kind::checkboxmultiple) {
      if (!facts || !PyList_Check(suffix_facts.get())) continue;
      Ref s = trimmed_text(val);
      Py_ssize_t pos = PySequence_Index(suffixes, s.get());
      if (pos < 0) {
        PyErr_Clear();
        continue;
      }
      PyObject* sf = PyList_GET_ITEM(suffix_facts.get(), pos);
      long long options = fact_int(facts, "options");
      if (!fact_true(sf, "exists")) {
        std::string range = options > 0 ? "as opções vão de 0 a " + std::to_string(options - 1) : "não há opções";
        v.add(2, at + "posição " + quoted(s.get()) + " fora das opções (" + range + ")");
      } else if (fact_true(sf, "disabled")) {
        v.add(1, at + "a opção " + quoted(s.get()) + " está desabilitada");
      }
    }
    if (is_toggle_kind(k)) {
      OnOff w = on_off_of(val);
      bool own = w == OnOff::own && facts && fact_true(facts, "toggle") &&
                 (fact_text(facts, "onValue") == utf8(trimmed_text(val).get()) ||
                  fact_text(facts, "offValue") == utf8(trimmed_text(val).get()));
      if (w == OnOff::invalid || (w == OnOff::own && !own))
        v.add(2, at + "o valor " + repr8(val) + " não diz ligado nem desligado (true/false, 1/0, S/N, Sim/Não" +
                     (facts && fact_true(facts, "toggle")
                          ? " ou os valores do item, \"" + fact_text(facts, "onValue") + "\"/\"" + fact_text(facts, "offValue") + "\""
                          : std::string()) +
                     "): o preenchimento pararia com erro");
    }
    if (k == Kind::popuplovid && PyFloat_Check(val))
      v.add(1, at + "número decimal: procurado na lista como \"" + utf8(val) + "\"");
    if (k == Kind::date && facts) {
      if (format.empty()) {
        unknown_format = true;
      } else {
        DateCheck dc = check_date_text(format, utf8(val));
        if (!dc.ok) v.add(2, at + "data " + quoted(val) + ": " + dc.reason);
      }
    }
  }
  if (unknown_format)
    v.add(1, "a página não declara o formato da data: o texto das datas não foi conferido");
  if (!any_value && f.in_data && k != Kind::none) v.add(0, "valor vazio nos dados: nada a preencher");
}

// Waits, within what is left of the check's budget, for `sel` to be attached. True when it
// came in time.
Task<bool> waited_for_late_item(PyObject* page, PyObject* sel, Tally& t) {
  const auto now = std::chrono::steady_clock::now();
  if (!t.late_until) t.late_until = now + kLateBudget;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*t.late_until - now).count();
  if (left <= 0) co_return false;  // a time limit of 0 would be no limit at all
  if (debug_on())
    log_info(message("fCtVerificarMapa -> A aguardar o item ", sel, " (no maximo ", integer(static_cast<long long>(left)), " ms)"));
  bool came = true;
  try {
    Ref ms = integer(static_cast<long long>(left));
    co_await pg::wait_for_selector(page, sel, N->attached.get(), ms.get());
  } catch (PyError&) {
    came = false;  // timed out (or the page went away): the probe says what is there
  }
  co_return came;
}

// What the selector finds (sondar_item.js); when it finds nothing, asked again once the page
// had the time to render it late.
Task<Ref> probe(PyObject* page, PyObject* sel, PyObject* id, PyObject* suffixes, Tally& t) {
  Ref arg = pg::list(sel, id, suffixes);
  Ref facts = co_await pg::evaluate(page, ZC_SCRIPT(sondar_item), arg.get());
  if (PyDict_Check(facts.get()) && !fact_true(facts.get(), "invalid") && fact_int(facts.get(), "count") == 0 &&
      co_await waited_for_late_item(page, sel, t))
    facts = co_await pg::evaluate(page, ZC_SCRIPT(sondar_item), arg.get());
  co_return facts;
}

Task<void> check_field(PyObject* page, Field& f, PyObject* out, Tally& t) {
  Verdict v;
  if (!PyDict_Check(f.cfg)) {
    v.add(2, "a configuração do campo não é um dicionário");
    emit(out, t, f.secao, f.coluna, nullptr, nullptr, v, "");
    co_return;
  }
  Ref sel = dict_get(f.cfg, "WebSel");
  Ref tipo = dict_get(f.cfg, "ColTipo");
  Kind k = Kind::none;
  if (!tipo) {
    v.add(2, f.grid ? "sem \"ColTipo\": a grelha terminaria o processo nesta célula"
                    : "sem \"ColTipo\": o preenchimento pararia com erro neste campo");
  } else if (!PyUnicode_Check(tipo.get())) {
    v.add(2, "\"ColTipo\" não é um texto");
  } else {
    Kind dk = dispatch_kind(tipo.get());
    k = f.grid ? grid_kind(tipo.get()) : dk;
    if (k == Kind::none && f.grid) {
      v.add(2, "a grelha só preenche os tipos text, datepicker, dropdownlist, checkboxmultiple, "
               "popuplovid, switch e checkbox, escritos assim: " + quoted(tipo.get()) + " ficaria por preencher");
      k = dk;  // the element is still judged as the kind it names
    } else if (k == Kind::none) {
      v.add(2, "tipo " + quoted(tipo.get()) + " não suportado: o preenchimento pararia com erro neste campo");
    }
  }
  if (f.after)
    v.add(2, "vem depois da secção " + quoted(f.after) +
                 " no mapa: o preenchimento do formulário nunca chega a este campo");
  if (!f.in_data) {
    if (k == Kind::multiselect && !f.grid)
      v.add(2, "coluna ausente dos dados: a lista múltipla ficaria sem valor e o preenchimento pararia com erro");
    else
      v.add(1, "coluna ausente dos dados: o campo fica como está");
  }

  Ref facts;
  Ref suffixes = suffixes_of(f, k);
  if (!sel) {
    v.add(2, "sem \"WebSel\"");
  } else if (!PyUnicode_Check(sel.get())) {
    v.add(2, "\"WebSel\" não é um texto");
  } else {
    Ref id = item_id_of(sel.get());
    facts = co_await probe(page, sel.get(), id.get(), suffixes.get(), t);
    if (PyDict_Check(facts.get())) judge_element(v, k, f, facts.get(), id.get());
    else facts.reset();
  }
  if (k != Kind::none) judge_values(v, k, f, facts.get(), suffixes.get());
  emit(out, t, f.secao, f.coluna, sel.get(), tipo.get(), v, "confere");
}

// A grid's add or save button.
Task<void> check_button(PyObject* page, const char* secao, const char* key, PyObject* section, bool is_add,
                        PyObject* out, Tally& t) {
  Verdict v;
  Ref k = text(key);
  Ref cfg = dict_get(section, key);
  Ref sel;
  if (!cfg) {
    v.add(2, "botão em falta na secção: cada registo falharia antes de começar");
  } else if (!PyDict_Check(cfg.get()) || !(sel = dict_get(cfg.get(), "WebSel")) || !PyUnicode_Check(sel.get())) {
    v.add(2, "sem \"WebSel\" de texto: cada registo falharia antes de começar");
  } else {
    Ref id = item_id_of(sel.get());
    Ref none_list = check(PyList_New(0));
    Ref facts = co_await probe(page, sel.get(), id.get(), none_list.get(), t);
    if (fact_true(facts.get(), "invalid")) {
      v.add(2, "seletor inválido: " + fact_text(facts.get(), "error"));
    } else {
      long long count = fact_int(facts.get(), "count");
      if (count == 0) v.add(2, "botão não encontrado: cada registo falharia");
      if (count > 1) v.add(2, std::to_string(count) + " elementos encontrados com este seletor; deve haver exatamente um");
      if (count >= 1 && is_add && fact_true(facts.get(), "disabled"))
        v.add(1, "desabilitado agora: a grelha espera até 15 s que fique disponível");
    }
  }
  Ref tipo = text("botao");
  emit(out, t, secao, k.get(), sel.get(), tipo.get(), v, "confere");
}

// A section-level finding (shape of the section's mapping or data).
void section_finding(PyObject* out, Tally& t, const char* secao, int level, const std::string& msg) {
  Verdict v;
  v.add(level, msg);
  Ref col = text(secao);
  Ref tipo = text("secao");
  emit(out, t, secao, col.get(), nullptr, tipo.get(), v, "");
}

// Data columns that have no place in the mapping (section or top level).
void data_only(PyObject* out, Tally& t, const char* secao, PyObject* columns) {
  Py_ssize_t n = PyList_GET_SIZE(columns);
  for (Py_ssize_t i = 0; i < n; ++i) {
    Verdict v;
    v.add(1, "coluna dos dados sem lugar no mapa: não será preenchida");
    emit(out, t, secao, PyList_GET_ITEM(columns, i), nullptr, nullptr, v, "");
  }
}

bool is_button_key(PyObject* key, const char* add, const char* save) {
  return ascii_eq(key, add) || ascii_eq(key, save);
}

// The "RepAtivarPreenc" entry of the data; `mapped`: the mapping has "Representantes".
void check_rep_flag(bool mapped, PyObject* data, PyObject* out, Tally& t) {
  Verdict v;
  Ref flag = dict_get(data, "RepAtivarPreenc");
  const char* ok_text = "";
  if (!flag) {
    v.add(2, "ausente dos dados: o preenchimento do formulário pararia com erro depois dos campos simples, "
             "sem preencher nenhuma secção");
  } else {
    bool on = py_equal(flag.get(), N->one.get());
    Ref records = dict_get(data, "Representantes");
    bool has_records = records && truthy(records.get());
    if (!on && PyUnicode_Check(flag.get()) && ascii_eq(trimmed_text(flag.get()).get(), "1"))
      v.add(1, "o texto \"1\" não ativa os representantes (use o número 1)");
    else if (on && has_records && !mapped)
      v.add(1, "ativa os representantes, mas o mapa não tem a secção \"Representantes\"");
    else if (!on && has_records && mapped)
      v.add(1, "vale " + repr8(flag.get()) + ": o representante dos dados não será preenchido");
    ok_text = on ? "representantes ativados" : "representantes desativados";
  }
  Ref col = text("RepAtivarPreenc");
  emit(out, t, "Representantes", col.get(), nullptr, nullptr, v, ok_text);
}

Task<void> check_representatives(PyObject* page, PyObject* section, PyObject* data, PyObject* out, Tally& t) {
  const char* secao = "Representantes";
  check_rep_flag(true, data, out, t);
  if (!PyDict_Check(section)) {
    section_finding(out, t, secao, 2, "a secção do mapa não é um dicionário");
    co_return;
  }
  Ref record = dict_get(data, "Representantes");
  bool usable = record && PyDict_Check(record.get());
  if (record && !usable && truthy(record.get()))
    section_finding(out, t, secao, 2, "os dados do representante não são um dicionário");
  form::Items cols(section);
  while (cols.next()) {
    Field f{secao, cols.key(), cols.value(), false, {}, true, nullptr};
    f.values.push_back(usable ? dict_get(record.get(), cols.key()) : Ref());
    f.in_data = !usable || static_cast<bool>(dict_get(record.get(), cols.key()));
    if (!f.values.back()) f.values.back() = none();
    co_await check_field(page, f, out, t);
  }
  if (usable) {
    Ref extra = check(PyList_New(0));
    form::Items keys(record.get());
    while (keys.next())
      if (!dict_get(section, keys.key())) check(PyList_Append(extra.get(), keys.key()));
    data_only(out, t, secao, extra.get());
  }
}

Task<void> check_grid(PyObject* page, const char* secao, const char* add, const char* save, PyObject* section,
                      PyObject* data, PyObject* out, Tally& t) {
  if (!PyDict_Check(section)) {
    section_finding(out, t, secao, 2, "a secção do mapa não é um dicionário");
    co_return;
  }
  // The records, when the data holds a list of dictionaries.
  std::vector<Ref> records;
  Ref raw = dict_get(data, secao);
  if (raw && raw.get() != Py_None) {
    if (!PyList_Check(raw.get()) && !PyTuple_Check(raw.get())) {
      section_finding(out, t, secao, 2, "os dados da secção não são uma lista de registos");
    } else {
      Ref seq = check(PySequence_Fast(raw.get(), ""));
      for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.get()); ++i) {
        PyObject* rec = PySequence_Fast_GET_ITEM(seq.get(), i);
        if (!PyDict_Check(rec))
          section_finding(out, t, secao, 2, "o registo " + std::to_string(i + 1) + " não é um dicionário: a sua linha falharia");
        else
          records.push_back(Ref::borrow(rec));
      }
    }
  }
  co_await check_button(page, secao, add, section, true, out, t);
  co_await check_button(page, secao, save, section, false, out, t);

  form::Items cols(section);
  while (cols.next()) {
    if (is_button_key(cols.key(), add, save)) continue;
    Field f{secao, cols.key(), cols.value(), true, {}, records.empty(), nullptr};
    for (const Ref& rec : records) {
      Ref v = dict_get(rec.get(), cols.key());
      if (v) f.in_data = true;
      f.values.push_back(v ? v : text(""));  // the grid passes "" for a missing column
    }
    co_await check_field(page, f, out, t);
  }
  Ref extra = check(PyList_New(0));
  for (const Ref& rec : records) {
    form::Items keys(rec.get());
    while (keys.next())
      if (!dict_get(section, keys.key()) && !check(PySequence_Contains(extra.get(), keys.key())))
        check(PyList_Append(extra.get(), keys.key()));
  }
  data_only(out, t, secao, extra.get());
}

}  // namespace

Task<Ref> fCtVerificarMapa(Call c) {
  PyObject* pPage = c.arg(0);
  PyObject* pDictColsDePara = c.arg(1);
  PyObject* pJsonDados = c.arg(2);
  Ref out = check(PyList_New(0));
  Tally t;

  if (!PyDict_Check(pDictColsDePara) || !PyDict_Check(pJsonDados)) {
    section_finding(out.get(), t, kFormSection, 2,
                    !PyDict_Check(pDictColsDePara) ? "o mapa não é um dicionário" : "os dados não são um dicionário");
    co_return out;
  }
  if (debug_on()) log_info(text("fCtVerificarMapa -> Inicio da verificacao do mapa"));

  PyObject* first_section = nullptr;
  bool rep_flag_done = false;
  form::Items entries(pDictColsDePara);
  while (entries.next()) {
    PyObject* key = entries.key();
    PyObject* cfg = entries.value();
    if (is_section_key(key)) {
      if (!first_section) first_section = key;
      if (ascii_eq(key, "Representantes")) {
        co_await check_representatives(pPage, cfg, pJsonDados, out.get(), t);
        rep_flag_done = true;
      } else if (ascii_eq(key, "Titulares")) {
        co_await check_grid(pPage, "Titulares", "TitInserir", "TitGravar", cfg, pJsonDados, out.get(), t);
      } else {
        co_await check_grid(pPage, "Beneficiarios", "BenInserir", "BenGravar", cfg, pJsonDados, out.get(), t);
      }
      continue;
    }
    Ref value = dict_get(pJsonDados, key);
    Field f{kFormSection, key, cfg, false, {}, static_cast<bool>(value), first_section};
    f.values.push_back(value ? value : none());
    co_await check_field(pPage, f, out.get(), t);
  }
  if (!rep_flag_done) check_rep_flag(false, pJsonDados, out.get(), t);

  // Data columns and sections without a place in the mapping.
  Ref extra = check(PyList_New(0));
  form::Items keys(pJsonDados);
  while (keys.next()) {
    PyObject* key = keys.key();
    if (ascii_eq(key, "RepAtivarPreenc")) continue;
    if (dict_get(pDictColsDePara, key)) continue;
    if (is_section_key(key)) {
      if (truthy(keys.value()))
        section_finding(out.get(), t, PyUnicode_AsUTF8(key), 1, "secção nos dados sem lugar no mapa: não será preenchida");
      continue;
    }
    check(PyList_Append(extra.get(), key));
  }
  data_only(out.get(), t, kFormSection, extra.get());

  if (debug_on())
    log_info(message("fCtVerificarMapa -> ", std::string_view(count_of(t.n[0] + t.n[1] + t.n[2], "verificacao", "verificacoes")),
                     ": ", integer(t.n[0]), " ok, ", std::string_view(count_of(t.n[1], "aviso")), ", ",
                     std::string_view(count_of(t.n[2], "erro"))));
  co_return out;
}

}  // namespace zv::vc::cf
