// True once APEX shows no processing indicator. Polled by wait_for_function, no argument.
// A page without window.apex is not an APEX page: nothing to wait for.
() => {
  if (!window.apex) return true;
  return document.querySelectorAll('.u-Processing, .is-processing').length === 0;
}
