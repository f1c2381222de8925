// Waits until the page can be read as the user will see it: the document loaded, no ajax
// request in flight (jQuery.active, when the page has jQuery) nor processing indicator
// (.u-Processing), and no element added, removed or shown/hidden for `quiet` ms (lazily
// rendered regions and items shown by dynamic actions at start-up are in place by then).
// Gives up after `bound` ms. Changes nothing. Argument: [bound, quiet].
// Resolves with {ready, apex}: ready false when the bound ran out first.
([bound, quiet]) => new Promise((resolve) => {
  const now = () => Date.now();
  const start = now();
  let last = start;
  const observer = new MutationObserver(() => { last = now(); });
  observer.observe(document.documentElement, {
    subtree: true, childList: true, attributes: true,
    attributeFilter: ['style', 'class', 'hidden', 'disabled'],
  });
  const inFlight = () => {
    const jq = window.apex && apex.jQuery && typeof apex.jQuery.active === 'number' ? apex.jQuery
      : (window.jQuery && typeof jQuery.active === 'number' ? jQuery : null);
    return !!(jq && jq.active > 0);
  };
  const spinning = () => Array.from(document.querySelectorAll('.u-Processing'))
    .some((s) => s.getClientRects().length > 0);
  const tick = () => {
    const t = now();
    if (document.readyState !== 'complete' || inFlight() || spinning()) last = t;
    const settled = t - last >= quiet;
    if (settled || t - start >= bound) {
      observer.disconnect();
      resolve({ ready: settled, apex: !!(window.apex && typeof apex.item === 'function') });
      return;
    }
    setTimeout(tick, 100);
  };
  setTimeout(tick, 100);
})
