// The line's page: fills itself from /api/v1/ every 15 s while it is seen.
// Stored text (board IDs, operators, benches, checks) only ever goes in as
// text: nothing here builds markup from what the store holds.
'use strict';

const REFRESH_MS = 15000;
const IDLE_S = 4 * 3600; // a bench without a run for half a shift shows grey
const params = new URLSearchParams(window.location.search);
let chosenKey = params.get('key');
let timer = null;
let dayChart = null;
let spcChart = null;
let spcPoints = [];  // the chart's, for the tooltip

function el(tag, text, cls) {
  const e = document.createElement(tag);
  if (text !== undefined && text !== null) e.textContent = String(text);
  if (cls) e.className = cls;
  return e;
}
function pct(v) { return v === null || v === undefined ? '–' : (v * 100).toFixed(1) + ' %'; }
function num(v, digits) { return v === null || v === undefined ? '–' : Number(v).toFixed(digits); }
function benchName(b) { return b === '' ? 'unknown' : b; }
function row(cells, cls) {
  const tr = el('tr', null, cls);
  for (const c of cells) {
    if (c instanceof Node) { const td = el('td'); td.appendChild(c); tr.appendChild(td); }
    else tr.appendChild(el('td', c, typeof c === 'number' ? 'num' : undefined));
  }
  return tr;
}
function fill(tableId, rows) {
  const body = document.querySelector('#' + tableId + ' tbody');
  body.replaceChildren(...rows);
}

async function api(path) {
  const headers = {};
  const token = sessionStorage.getItem('quorvid-token');
  if (token) headers.Authorization = 'Bearer ' + token;
  const res = await fetch('/api/v1/' + path, { headers, cache: 'no-cache' });
  if (res.status === 401) {
    const given = window.prompt('This line asks for its token:');
    if (given) { sessionStorage.setItem('quorvid-token', given.trim()); return api(path); }
    throw new Error('the server asks for a token');
  }
  if (!res.ok) throw new Error(path + ': ' + (await res.text()).trim());
  return res.json();
}

function showAsOf(answer) {
  document.getElementById('asof').textContent = 'data as of ' + answer.as_of + ' (' + Math.round(answer.age_s) + ' s ago)';
  const banner = document.getElementById('stale');
  banner.hidden = !answer.stale;
  banner.textContent = answer.stale ? 'The store cannot be read: these figures are ' + Math.round(answer.age_s) + ' s old.' : '';
}

function showBenches(a) {
  const items = a.benches.map(b => {
    const state = b.last_verdict === null || b.seconds_since_last_run > IDLE_S ? 'idle' : b.last_verdict === 'pass' ? 'pass' : 'fail';
    const li = el('li', null, state);
    li.dataset.bench = b.bench;
    li.appendChild(el('span', benchName(b.bench), 'name'));
    li.appendChild(el('span', b.runs + ' runs, first pass ' + pct(b.first_pass_yield)));
    li.appendChild(el('br'));
    li.appendChild(el('span', b.last_run_utc === null ? 'no run yet' : 'last ' + b.last_verdict + ' at ' + b.last_run_utc));
    return li;
  });
  document.getElementById('benches').replaceChildren(...items);
}

function showYield(today, week) {
  document.getElementById('first-pass-yield').textContent = pct(today.first_pass_yield);
  document.getElementById('final-yield').textContent = pct(today.final_yield);
  document.getElementById('retests').textContent = today.retests;
  document.getElementById('runs').textContent = today.runs;
  fill('per-day', week.per_day.map(d => row([d.day, d.runs, pct(d.first_pass_yield), pct(d.final_yield), d.retests])));
  const data = {
    labels: week.per_day.map(d => d.day),
    datasets: [
      { label: 'first-pass yield', data: week.per_day.map(d => d.first_pass_yield), backgroundColor: '#2563eb' },
      { label: 'final yield', data: week.per_day.map(d => d.final_yield), backgroundColor: '#15803d' },
    ],
  };
  if (dayChart) { dayChart.data = data; dayChart.update(); return; }
  dayChart = new Chart(document.getElementById('per-day-chart'), {
    type: 'bar', data,
    options: { animation: false, maintainAspectRatio: false, scales: { y: { min: 0, max: 1 } } },
  });
}

function showPareto(a) {
  fill('pareto', a.pareto.map(p => row([p.check, p.channel === null ? '–' : p.channel, p.failed_runs])));
}

function showCapability(a) {
  fill('capability', a.capability.map(c => {
    const link = el('a', 'chart');
    link.href = '?key=' + encodeURIComponent(c.key);
    link.addEventListener('click', e => { e.preventDefault(); chosenKey = c.key; history.replaceState(null, '', link.href); refreshSpc(); });
    const tr = row([c.check, c.channel === null ? '–' : c.channel, c.quantity + ' ' + c.unit, c.reference === null ? '–' : c.reference,
      c.n, num(c.mean_error, 3), num(c.sd_error, 3), c.limit === null ? '–' : c.limit, num(c.cpk, 2), link], c.flagged ? 'flagged' : undefined);
    tr.dataset.key = c.key;
    return tr;
  }));
}

function showSpc(a) {
  document.getElementById('spc-title').textContent = a.check + ' ' + (a.channel === null ? '' : 'ch' + a.channel + ' ') + a.quantity +
    (a.reference === null ? '' : ' at ' + a.reference) + ' ' + a.unit + ': centre ' + num(a.centre, 3) + ', limits ' + num(a.lcl, 3) + ' to ' + num(a.ucl, 3);
  const flagged = a.points.filter(p => p.flags.length > 0);
  fill('spc-flags', flagged.slice(-50).reverse().map(p => row([p.started_utc, p.board_id, benchName(p.bench), num(p.error, 3), p.flags.join(', ')])));
  // Up to 10,000 points: numbers on a linear axis, given as Chart.js keeps
  // them (no parsing), each limit a line of two points, and, of many points,
  // a dot only where one is flagged.
  const last = Math.max(a.points.length - 1, 1);
  const few = a.points.length <= 200;
  const line = v => [{ x: 0, y: v }, { x: last, y: v }];
  const data = {
    datasets: [
      { label: 'error', data: a.points.map((p, i) => ({ x: i, y: p.error })), borderColor: '#2563eb', borderWidth: 1, clip: 8,
        pointRadius: a.points.map(p => (p.flags.length ? 4 : few ? 2 : 0)),
        pointBackgroundColor: a.points.map(p => (p.flags.length ? '#b91c1c' : '#2563eb')), pointBorderWidth: 0 },
      { label: 'centre', data: line(a.centre), borderColor: '#15803d', pointRadius: 0 },
      { label: 'UCL', data: line(a.ucl), borderColor: '#b91c1c', pointRadius: 0, borderDash: [4, 4] },
      { label: 'LCL', data: line(a.lcl), borderColor: '#b91c1c', pointRadius: 0, borderDash: [4, 4] },
    ],
  };
  spcPoints = a.points;
  if (spcChart) {
    spcChart.data = data;
    spcChart.options.scales.x.max = last;
    spcChart.update();
    return;
  }
  spcChart = new Chart(document.getElementById('spc-chart'), {
    type: 'line', data,
    options: {
      animation: false, parsing: false, normalized: true, maintainAspectRatio: false,
      scales: { x: { type: 'linear', display: false, min: 0, max: last } },
      plugins: { tooltip: { callbacks: { title: items => (items.length && spcPoints[items[0].parsed.x] ? spcPoints[items[0].parsed.x].started_utc : '') } } },
    },
  });
}

async function refreshSpc() {
  if (!chosenKey) return;
  try { showSpc(await api('spc?key=' + encodeURIComponent(chosenKey))); }
  catch (e) { document.getElementById('spc-title').textContent = e.message; }
}

async function searchBoard(id) {
  const said = document.getElementById('board-said');
  if (!id) { said.textContent = ''; fill('board', []); return; }
  try {
    const a = await api('board?id=' + encodeURIComponent(id));
    said.textContent = a.runs.length + ' runs of ' + a.board_id;
    fill('board', a.runs.map(r => row([r.started_utc, benchName(r.bench), r.station, r.operator, r.verdict, r.failed, r.report_path])));
  } catch (e) { said.textContent = e.message; }
}

async function refresh() {
  try {
    const weekSince = new Date(Date.now() - 7 * 86400000).toISOString();
    const [benches, today, week, pareto, capability] = await Promise.all([
      api('benches'), api('yield'), api('yield?since=' + encodeURIComponent(weekSince)), api('pareto'), api('capability')]);
    showAsOf(benches);
    showBenches(benches);
    showYield(today, week);
    showPareto(pareto);
    showCapability(capability);
    await refreshSpc();
    const id = document.getElementById('board-id').value.trim();
    if (id) await searchBoard(id);
    document.body.dataset.loaded = 'yes';
  } catch (e) {
    const banner = document.getElementById('stale');
    banner.hidden = false;
    banner.textContent = e.message;
  }
}

function schedule() {
  clearInterval(timer);
  timer = null;
  if (document.visibilityState === 'visible') { refresh(); timer = setInterval(refresh, REFRESH_MS); }
}

document.getElementById('board-form').addEventListener('submit', e => {
  e.preventDefault();
  searchBoard(document.getElementById('board-id').value.trim());
});
document.addEventListener('visibilitychange', schedule);
if (params.get('board')) document.getElementById('board-id').value = params.get('board');
schedule();
