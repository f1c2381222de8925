// The never-submit guard. While it is up, every request of the page passes through one route
// handler: a request that would submit the page is aborted and reported; every other request
// (ajax of dynamic actions and popup LOVs, scripts, images, ...) falls back to whatever else
// handles it, untouched. The guard is lifted by unrouting that handler.
//
// Each page's guard is kept in a weak registry (page -> (handler, held list)), so raising it
// twice keeps one handler and lifting it finds the very handler that was routed.
#include "conferencia.hpp"

#include <cctype>

namespace zv::vc::cf {

namespace {

bool equals_ci(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The last segment of the URL's path (no query, no fragment).
std::string_view last_segment(std::string_view url) {
  std::size_t end = url.find_first_of("?#");
  if (end != std::string_view::npos) url = url.substr(0, end);
  std::size_t slash = url.rfind('/');
  return slash == std::string_view::npos ? url : url.substr(slash + 1);
}

// The value of APEX's p_request in the posted form data, when it can be read.
Ref posted_request(PyObject* request) {
  PyObject* body = PyObject_GetAttr(request, C->post_data_json.get());
  if (!body) {
    Ref err = Ref::steal(compat::fetch_exception());
    if (err && !is_ordinary(err.get())) throw_exception(err.release());
    return none();  // no body, or one that is neither form data nor JSON
  }
  Ref b = Ref::steal(body);
  if (!PyDict_Check(b.get())) return none();
  Ref v = dict_get(b.get(), "p_request");
  if (!v) return none();
  if (PyList_Check(v.get()) && PyList_GET_SIZE(v.get()) > 0) return Ref::borrow(PyList_GET_ITEM(v.get(), 0));
  return v;
}

// {"url", "metodo", "navegacao", "pedido"} of a held request.
Ref report_of(PyObject* request, PyObject* method, PyObject* url, bool navigation) {
  Row r;
  r.put("url", Ref::borrow(url));
  r.put("metodo", Ref::borrow(method));
  r.put("navegacao", Ref::borrow(navigation ? Py_True : Py_False));
  r.put("pedido", posted_request(request));
  return Ref::borrow(r.get());
}

// The page whose routes guard `target`: the target itself, or the page of a Frame (a
// modal dialog page's iframe), whose routes see the frame's requests too.
Ref page_of(PyObject* target) {
  PyObject* route = PyObject_GetAttr(target, C->route.get());
  if (route) {
    Py_DECREF(route);
    return Ref::borrow(target);
  }
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_current();
  PyErr_Clear();
  return getattr(target, ZV_STR("page"));
}

}  // namespace

bool is_submission(std::string_view method, bool navigation, std::string_view url) {
  if (!equals_ci(method, "POST")) return false;
  if (navigation) return true;
  std::string_view seg = last_segment(url);
  return equals_ci(seg, "wwv_flow.accept") || equals_ci(seg, "accept");
}

// The route handler; closure: (held list,).
Task<Ref> guard_handler(Call c) {
  PyObject* route = c.arg(0);
  PyObject* request = c.arg(1);
  PyObject* held = c.cap(0);

  Ref report;
  try {
    Ref method = getattr(request, C->method.get());
    Ref url = getattr(request, C->url.get());
    bool navigation = truthy(call_method(request, C->is_navigation_request.get()).get());
    if (is_submission(utf8(method.get()), navigation, utf8(url.get()))) {
      report = report_of(request, method.get(), url.get(), navigation);
      check(PyList_Append(held, report.get()));
      Ref pedido = dict_get(report.get(), "pedido");
      if (debug_on()) {
        if (pedido && pedido.get() != Py_None)
          log_warning(message("fCtAtivarGuarda -> Submissao retida: ", method, " ", url, " | p_request=", pedido));
        else
          log_warning(message("fCtAtivarGuarda -> Submissao retida: ", method, " ", url));
      }
    }
  } catch (PyError& e) {
    // A request that cannot be read is let through: the guard only ever holds what it knows
    // to be a submission.
    if (debug_on()) log_error(message("fCtAtivarGuarda -> Falha ao examinar pedido: ", e.get()));
    report.reset();
  }

  try {
    if (report)
      co_await call_method(route, C->abort.get(), C->aborted.get());
    else
      co_await call_method(route, C->fallback.get());
  } catch (PyError& e) {
    // The page or its browser went away under the request: nothing is left to hold.
    if (debug_on()) log_error(message("fCtAtivarGuarda -> Falha ao tratar pedido: ", e.get()));
  }
  co_return none();
}

Task<Ref> fCtAtivarGuarda(Call c) {
  Ref page = page_of(c.arg(0));
  PyObject* pPage = page.get();
  Ref entry = Ref::steal(PyObject_GetItem(C->registry.get(), pPage));
  if (entry) co_return Ref::borrow(PyTuple_GET_ITEM(entry.get(), 1));
  if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw_current();
  PyErr_Clear();

  Ref held = check(PyList_New(0));
  Ref closure = check(PyTuple_Pack(1, held.get()));
  Ref handler = check(with_closure(C->handler_proto, closure.get()));
  entry = check(PyTuple_Pack(2, handler.get(), held.get()));
  // Registered before the route is made, so that a second raise meanwhile finds it.
  check(PyObject_SetItem(C->registry.get(), pPage, entry.get()));
  bool routed = false;
  Held failure;
  try {
    co_await call_method(pPage, C->route.get(), C->pattern_all.get(), handler.get());
    routed = true;
  } catch (PyError& e) {
    failure.set(e.take());
  }
  if (!routed) {
    if (PyObject_DelItem(C->registry.get(), pPage) < 0) PyErr_Clear();
    failure.rethrow();
  }
  if (debug_on()) log_info(text("fCtAtivarGuarda -> Guarda ativada: pedidos de submissao serao retidos"));
  co_return held;
}

Task<Ref> fCtDesativarGuarda(Call c) {
  Ref page = page_of(c.arg(0));
  PyObject* pPage = page.get();
  Ref entry = Ref::steal(PyObject_GetItem(C->registry.get(), pPage));
  if (!entry) {
    if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw_current();
    PyErr_Clear();
    co_return check(PyList_New(0));
  }
  check(PyObject_DelItem(C->registry.get(), pPage));
  Ref handler = Ref::borrow(PyTuple_GET_ITEM(entry.get(), 0));
  Ref held = Ref::borrow(PyTuple_GET_ITEM(entry.get(), 1));

  Held failure;
  try {
    co_await call_method(pPage, C->unroute.get(), C->pattern_all.get(), handler.get());
  } catch (PyError& e) {
    failure.set(e.take());
  }
  if (failure) {
    // A closed page has no routes left; on a live page the guard must not stay up unseen.
    bool closed = false;
    PyObject* r = PyObject_CallMethodNoArgs(pPage, C->is_closed.get());
    if (r) {
      closed = PyObject_IsTrue(r) == 1;
      Py_DECREF(r);
    }
    PyErr_Clear();
    if (!closed) {
      check(PyObject_SetItem(C->registry.get(), pPage, entry.get()));
      failure.rethrow();
    }
  }
  if (debug_on())
    log_info(message("fCtDesativarGuarda -> Guarda desativada: ", integer(PyList_GET_SIZE(held.get())),
                     " pedido(s) de submissao retido(s)"));
  co_return held;
}

}  // namespace zv::vc::cf
