// The end-of-run overlay: a full-window layer over the form with a titled box and one
// button that removes the layer. Argument: [message, caption], both markup. Each goes
// into its own element, so it shapes its own text and cannot reach the box around it;
// the texts never become script source.
([msg, caption]) => {
  const overlay = document.createElement('div');
  overlay.id = 'final-modal-overlay';
  overlay.setAttribute('style',
    'position:fixed; top:0; left:0; width:100%; height:100%; background:rgba(0,0,0,0.85); ' +
    'z-index:999999; display:flex; justify-content:center; align-items:center');

  const box = document.createElement('div');
  box.setAttribute('style',
    'background:#fff; padding:30px 40px; border-radius:12px; max-width:500px; ' +
    'text-align:center; box-shadow:0 10px 30px rgba(0,0,0,0.5); font-family:Arial,sans-serif');

  const heading = document.createElement('h2');
  heading.setAttribute('style', 'color:#d32f2f');
  heading.textContent = 'ATENÇÃO';

  const text = document.createElement('p');
  text.setAttribute('style', 'color:#333; line-height:1.5');
  text.innerHTML = msg;

  const button = document.createElement('button');
  button.id = 'modal-ok-btn';
  button.setAttribute('style',
    'margin-top:20px; padding:12px 30px; background:#1976d2; color:white; border:none; ' +
    'border-radius:6px; font-size:16px; cursor:pointer');
  button.innerHTML = caption;

  box.append(heading, text, button);
  overlay.append(box);
  document.body.appendChild(overlay);
  button.onclick = () => overlay.remove();
}
