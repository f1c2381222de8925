// True when the option input is a check box that is already ticked: clicking its label
// would untick it. Argument: the option input's selector ("#ITEM_n").
(sel) => {
  const el = document.querySelector(sel);
  return !!el && el.type === 'checkbox' && el.checked;
}
