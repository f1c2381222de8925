// True once APEX shows no processing indicator and, where the page has jQuery, no ajax
// request is in flight. Polled by wait_for_function, no argument.
// A page without window.apex is not an APEX page: nothing to wait for. APEX shows a
// request's indicator only some time after the request starts, so the indicator alone
// misses a request that has just been sent; jQuery's `active` counts every request that
// apex.server sends until its answer has been handled (APEX's own jQuery and the page's).
() => {
  if (!window.apex) return true;
  for (const jq of [window.apex.jQuery, window.jQuery]) {
    if (jq && typeof jq.active === 'number' && jq.active > 0) return false;
  }
  return document.querySelectorAll('.u-Processing, .is-processing').length === 0;
}
