// The page of `korvane view`: the console's parameters as a tree by path,
// kept current from the server's event stream (/api/events).
'use strict';
(function () {
  const ROW = 24;
  const FLASH_MS = 1500;
  const params = new Map();   // path -> parameter as the server sends it
  const labels = new Map();   // path -> label
  const nodes = new Map();    // path -> {path, parts, children: [], count, param}
  const roots = [];
  const collapsed = new Set();
  const flashing = new Map(); // path -> time the flash ends
  const pending = new Set();  // paths whose set awaits its report
  let rows = [];              // the visible paths, in order
  let structure = true;       // rows must be recomputed
  let drawQueued = false;
  let readOnly = false;
  let editing = null;         // {path, field}

  // The token: from the address (then removed from it), kept for the tab.
  const query = new URLSearchParams(location.search);
  let token = query.get('token') || sessionStorage.getItem('korvane-token') || '';
  if (query.get('token')) {
    sessionStorage.setItem('korvane-token', token);
    history.replaceState(null, '', location.pathname);
  }
  const withToken = (url) => url + (url.includes('?') ? '&' : '?') + 'token=' + encodeURIComponent(token);

  const $ = (id) => document.getElementById(id);
  const rowsBox = $('rows');
  const spacer = $('spacer');

  function comparePaths(a, b) {
    const x = a.split(',').map(Number), y = b.split(',').map(Number);
    for (let i = 0; i < Math.min(x.length, y.length); ++i) if (x[i] !== y[i]) return x[i] - y[i];
    return x.length - y.length;
  }

  function nodeFor(path) {
    let node = nodes.get(path);
    if (node) return node;
    const parts = path.split(',');
    node = { path, depth: parts.length, children: [], count: 0, param: null };
    nodes.set(path, node);
    if (parts.length === 1) insertSorted(roots, path);
    else insertSorted(nodeFor(parts.slice(0, -1).join(',')).children, path);
    return node;
  }

  function insertSorted(list, path) {
    let lo = 0, hi = list.length;
    while (lo < hi) { const mid = (lo + hi) >> 1; if (comparePaths(list[mid], path) < 0) lo = mid + 1; else hi = mid; }
    list.splice(lo, 0, path);
  }

  function addParam(p) {
    const known = params.has(p.path);
    params.set(p.path, p);
    const node = nodeFor(p.path);
    node.param = p;
    if (!known) {
      const parts = p.path.split(',');
      for (let i = 1; i < parts.length; ++i) nodes.get(parts.slice(0, i).join(',')).count++;
      structure = true;
    }
  }

  function clearAll() {
    params.clear(); labels.clear(); nodes.clear(); roots.length = 0;
    structure = true;
  }

  // What the filter lets through: null (everything) or a test of a parameter.
  function filterTest() {
    const text = $('filter').value.trim();
    if (!text) return null;
    if (/^[0-9,]+$/.test(text)) {
      const prefix = text.replace(/,+$/, '');
      return (p) => p.path === prefix || p.path.startsWith(prefix + ',');
    }
    const word = text.toLowerCase();
    return (p) => {
      const parts = p.path.split(',');
      for (let i = parts.length; i > 0; --i) {
        const label = labels.get(parts.slice(0, i).join(','));
        if (label && label.toLowerCase().includes(word)) return true;
      }
      return false;
    };
  }

  function computeRows() {
    const test = filterTest();
    rows = [];
    if ($('sort').value === 'changed') {
      const list = [];
      for (const p of params.values()) if (!test || test(p)) list.push(p);
      list.sort((a, b) => b.changed - a.changed || comparePaths(a.path, b.path));
      rows = list.map((p) => p.path);
    } else {
      let shown = null;
      if (test) {
        shown = new Set();
        for (const p of params.values()) {
          if (!test(p)) continue;
          const parts = p.path.split(',');
          for (let i = 1; i <= parts.length; ++i) shown.add(parts.slice(0, i).join(','));
        }
      }
      const walk = (list) => {
        for (const path of list) {
          if (shown && !shown.has(path)) continue;
          rows.push(path);
          const node = nodes.get(path);
          if (node.children.length && !collapsed.has(path)) walk(node.children);
        }
      };
      walk(roots);
    }
    spacer.style.height = rows.length * ROW + 'px';
    structure = false;
  }

  function queueDraw() {
    if (drawQueued) return;
    drawQueued = true;
    requestAnimationFrame(draw);
  }

  function sparkline(history) {
    if (!history || history.length < 2) return '';
    const lo = Math.min(...history), hi = Math.max(...history), span = hi - lo || 1;
    const points = history.map((v, i) => (i * 70 / (history.length - 1)).toFixed(1) + ',' + (14 - (v - lo) * 12 / span).toFixed(1)).join(' ');
    return '<svg class="spark" width="72" height="16"><polyline points="' + points + '"/></svg>';
  }

  const timeText = (ms) => {
    if (!ms) return '';
    const d = new Date(ms);
    return d.toLocaleTimeString([], { hour12: false }) + '.' + String(d.getMilliseconds()).padStart(3, '0');
  };

  const escapeHtml = (s) => String(s).replace(/[&<>"']/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' }[c]));

  const pool = [];
  function draw() {
    drawQueued = false;
    if (structure) computeRows();
    const now = performance.now();
    const first = Math.max(0, Math.floor(rowsBox.scrollTop / ROW) - 2);
    const count = Math.ceil(rowsBox.clientHeight / ROW) + 5;
    const last = Math.min(rows.length, first + count);
    let used = 0;
    let nextFlash = Infinity;
    for (let i = first; i < last; ++i, ++used) {
      let el = pool[used];
      if (!el) { el = document.createElement('div'); pool.push(el); spacer.appendChild(el); }
      const path = rows[i];
      const node = nodes.get(path);
      const p = node.param;
      const flashEnd = flashing.get(path) || 0;
      const flash = flashEnd > now;
      if (flash) nextFlash = Math.min(nextFlash, flashEnd); else if (flashEnd) flashing.delete(path);
      const isGroup = node.children.length > 0 && !p;
      const key = [path, p ? p.changes + '|' + p.value : '', labels.get(path) || '', flash, collapsed.has(path), pending.has(path), node.count, $('sort').value].join('\u0001');
      el.style.top = i * ROW + 'px';
      el.dataset.path = path;
      el.className = 'row' + (isGroup ? ' group' : ' param') + (flash ? ' flash' : '');
      if (el._key === key || (editing && editing.path === path)) continue;
      el._key = key;
      const indent = $('sort').value === 'path' ? (node.depth - 1) * 14 : 0;
      const toggle = node.children.length ? '<span class="toggle">' + (collapsed.has(path) ? '▸' : '▾') + '</span>' : '<span class="toggle"></span>';
      const label = labels.get(path) || '';
      let value = '', time = '', changes = '', spark = '', act = '';
      if (p) {
        value = escapeHtml(p.value) + (pending.has(path) ? ' <span class="pending">(sent)</span>' : '');
        time = timeText(p.changed);
        changes = String(p.changes);
        spark = p.type === 'integer' ? sparkline(p.history) : '';
      } else {
        value = node.count + ' parameter' + (node.count === 1 ? '' : 's');
        if (node.depth >= 2 && node.depth <= 4) act = '<button type="button" class="poll">poll</button>';
      }
      el.innerHTML = '<span class="name" style="padding-left:' + (6 + indent) + 'px">' + toggle + escapeHtml(path) + '</span>' +
        '<span class="label editable">' + escapeHtml(label) + '</span>' +
        '<span class="value' + (p && !readOnly ? ' editable' : '') + '">' + value + '</span>' +
        '<span class="time">' + time + '</span><span class="count">' + changes + '</span>' +
        '<span class="spark">' + spark + '</span><span class="act">' + act + '</span>';
    }
    for (let i = used; i < pool.length; ++i) { pool[i].className = 'row unused'; pool[i].style.top = '-9999px'; pool[i].dataset.path = ''; pool[i]._key = ''; }
    if (nextFlash !== Infinity) setTimeout(queueDraw, Math.max(0, nextFlash - performance.now()) + 5);
    // For the benchmark: when the first rows were drawn after the page opened.
    if (!window.korvaneFirstDraw && params.size) window.korvaneFirstDraw = performance.now();
  }

  function notice(text, kind) {
    const el = $('notice');
    el.textContent = text;
    el.className = kind || '';
  }

  async function post(url, body, raw) {
    const response = await fetch(withToken(url), {
      method: 'POST',
      headers: { 'Content-Type': 'application/json', 'X-Korvane-Token': token },
      body: raw ? body : JSON.stringify(body),
    });
    const text = await response.text();
    if (!response.ok) throw new Error(text.trim() || response.statusText);
    return JSON.parse(text);
  }

  function sent(result) {
    if (result.warning) notice('sent ' + result.line + ' — warning: ' + result.warning, 'warn');
    else notice('sent ' + result.line);
  }

  // Editing a value or a label in place: Enter sends, Esc cancels.
  function startEdit(cell, path, field) {
    const p = params.get(path);
    if (field === 'value' && (!p || readOnly)) return;
    editing = { path, field };
    const input = document.createElement('input');
    input.className = 'edit';
    input.value = field === 'value' ? p.value : (labels.get(path) || '');
    cell.textContent = '';
    cell.appendChild(input);
    input.focus();
    input.select();
    const finish = () => { editing = null; const row = cell.parentElement; if (row) row._key = ''; queueDraw(); };
    input.addEventListener('keydown', (e) => {
      if (e.key === 'Escape') { e.preventDefault(); finish(); rowsBox.focus(); }
      if (e.key !== 'Enter') return;
      e.preventDefault();
      const text = input.value;
      finish();
      if (field === 'label') {
        post('/api/label', { path, label: text }).then(() => notice('label of ' + path + ' set'), (err) => notice(err.message, 'bad'));
        return;
      }
      let value = text;
      if (p.type === 'integer') {
        if (!/^[0-9]+$/.test(text.trim())) { notice('an integer value is 0 to 2147483647: ' + text, 'bad'); return; }
        value = Number(text.trim());
      }
      pending.add(path);
      post('/api/set', { path, value }).then(sent, (err) => { pending.delete(path); queueDraw(); notice(err.message, 'bad'); });
    });
    input.addEventListener('blur', () => { if (editing && editing.path === path) finish(); });
  }

  rowsBox.addEventListener('click', (e) => {
    const row = e.target.closest('.row');
    if (!row || !row.dataset.path) return;
    const path = row.dataset.path;
    if (e.target.closest('.toggle')) {
      if (collapsed.has(path)) collapsed.delete(path); else collapsed.add(path);
      structure = true; queueDraw(); return;
    }
    if (e.target.closest('button.poll')) {
      post('/api/poll', { path }).then(sent, (err) => notice(err.message, 'bad'));
      return;
    }
    if (e.target.closest('input')) return;
    const cell = e.target.closest('.value.editable, .label.editable');
    if (cell) startEdit(cell, path, cell.classList.contains('value') ? 'value' : 'label');
  });
  rowsBox.addEventListener('scroll', queueDraw);
  window.addEventListener('resize', queueDraw);
  $('filter').addEventListener('input', () => { structure = true; queueDraw(); });
  $('sort').addEventListener('change', () => { structure = true; queueDraw(); });
  $('expand').addEventListener('click', () => { collapsed.clear(); structure = true; queueDraw(); });
  $('collapse').addEventListener('click', () => { for (const [path, n] of nodes) if (n.children.length) collapsed.add(path); structure = true; queueDraw(); });
  const sendCommand = () => {
    const line = $('command').value.trim();
    if (!line) return;
    post('/api/command', { line }).then((r) => { sent(r); $('command').value = ''; }, (err) => notice(err.message, 'bad'));
  };
  $('send').addEventListener('click', sendCommand);
  $('command').addEventListener('keydown', (e) => {
    if (e.key === 'Enter') { e.preventDefault(); sendCommand(); }
    if (e.key === 'Escape') { $('command').value = ''; $('command').blur(); }
  });
  $('filter').addEventListener('keydown', (e) => { if (e.key === 'Escape') { $('filter').value = ''; structure = true; queueDraw(); $('filter').blur(); } });
  document.addEventListener('keydown', (e) => {
    const typing = e.target.closest && e.target.closest('input, select, textarea');
    if (e.key === '/' && !typing) { e.preventDefault(); $('filter').focus(); }
  });
  $('labelsIn').addEventListener('change', () => {
    const file = $('labelsIn').files[0];
    if (!file) return;
    file.text().then((text) => post('/api/labels', text, true)).then((r) => notice('labels imported: ' + r.labels + ' in all'), (err) => notice(err.message, 'bad'));
    $('labelsIn').value = '';
  });
  $('exportJson').href = withToken('/api/export.json');
  $('exportCsv').href = withToken('/api/export.csv');
  $('labelsOut').href = withToken('/api/labels');

  function showLink(link) {
    const c = $('console'), s = $('service');
    c.dataset.state = link.console.state; c.textContent = 'console: ' + link.console.state; c.title = link.console.text || '';
    s.dataset.state = link.service.state; s.textContent = 'service: ' + link.service.state; s.title = link.service.text || '';
  }

  function showCounters(c) {
    $('counters').textContent = c.parameters + ' parameters · ' + c.messages + ' messages · ' + c.reports + ' reports · ' + c.octets + ' octets · ' + c.reportsPerSecond + ' reports/s';
  }

  function addEvents(events) {
    const log = $('log');
    for (const ev of events) {
      const li = document.createElement('li');
      li.dataset.kind = ev.kind;
      li.innerHTML = '<time>' + timeText(ev.time) + '</time>' + escapeHtml(ev.kind + ': ' + ev.text);
      log.insertBefore(li, log.firstChild);
    }
    while (log.childElementCount > 300) log.removeChild(log.lastChild);
  }

  function onState(state) {
    clearAll();
    readOnly = state.readOnly;
    document.body.classList.toggle('readonly', readOnly);
    const mode = $('mode');
    mode.textContent = state.mode === 'offline' ? 'offline: a capture, read-only' : 'live';
    mode.dataset.state = state.mode;
    for (const [path, label] of Object.entries(state.labels)) labels.set(path, label);
    for (const p of state.parameters) addParam(p);
    $('log').textContent = '';
    addEvents(state.events);
    showLink(state.link);
    $('console').hidden = $('service').hidden = readOnly;
    showCounters(state.counters);
    document.body.dataset.ready = 'true';
    queueDraw();
  }

  function onUpdate(update) {
    const now = performance.now();
    for (const p of update.parameters || []) {
      const old = params.get(p.path);
      if (!old || old.changes !== p.changes) flashing.set(p.path, now + FLASH_MS);
      pending.delete(p.path);
      addParam(p);
    }
    for (const l of update.labels || []) {
      if (l.label) labels.set(l.path, l.label); else labels.delete(l.path);
      if ($('filter').value) structure = true;
    }
    if (update.events) addEvents(update.events);
    if (update.link) showLink(update.link);
    if (update.counters) showCounters(update.counters);
    queueDraw();
  }

  // The event stream; the browser reconnects by itself, and a stream the
  // server refused (closed for good) is opened again here.
  let source = null;
  function connect() {
    const stream = $('stream');
    source = new EventSource(withToken('/api/events'));
    source.addEventListener('open', () => { stream.dataset.state = 'live'; stream.textContent = 'connected'; });
    source.addEventListener('error', () => {
      stream.dataset.state = 'reconnecting';
      stream.textContent = 'connection lost, reconnecting…';
      if (source.readyState === EventSource.CLOSED) setTimeout(connect, 2000);
    });
    source.addEventListener('state', (e) => onState(JSON.parse(e.data)));
    source.addEventListener('update', (e) => onUpdate(JSON.parse(e.data)));
  }
  connect();
})();
