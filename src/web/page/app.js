// The laboratory page: every chamber's tile kept live from the event stream, a chamber's values,
// trend, events and runs, and the alert list with acknowledgement. No inline script: the page's
// content policy allows this file only.
'use strict';

const words = {
  zh: {
    title: '温湿度控制器', switch: 'English', chambers: '试验箱', alerts: '报警列表', events: '事件记录',
    runs: '试验', hour: '时', day: '日', week: '周', month: '月', login: '登录', user: '用户',
    password: '密码', token: '令牌', enter: '进入', stale: '数据过期', polling: '通讯正常',
    silent: '仪表无响应', closed: '端口关闭', deviceLost: '设备丢失', alarm: '报警', unnamed: '试验箱',
    recording: '记录中', notRecording: '未记录', acknowledge: '确认', comment: '说明', report: '报告',
    noAlerts: '没有报警', acknowledged: '已确认', active: '进行中', ended: '已结束', open: '进行中',
    temperature: '温度', humidity: '湿度', mean: '平均', min: '最小', max: '最大', refused: '未确认：',
    live: '实时', offline: '连接中断', licenses: '许可',
    // Why an acknowledgement was refused, by the server's code.
    why_password: '用户名或密码错误', why_locked: '账户已锁定，请管理员解锁',
  },
  en: {
    title: 'Temperature and humidity controller', switch: '中文', chambers: 'Chambers', alerts: 'Alerts',
    events: 'Events', runs: 'Runs', hour: 'Hour', day: 'Day', week: 'Week', month: 'Month',
    login: 'Log in', user: 'User', password: 'Password', token: 'Token', enter: 'Enter',
    stale: 'stale', polling: 'link ok', silent: 'no answer', closed: 'port closed',
    deviceLost: 'device lost', alarm: 'Alarm', unnamed: 'Chamber', recording: 'recording',
    notRecording: 'not recording', acknowledge: 'Acknowledge', comment: 'Comment', report: 'Report',
    noAlerts: 'No alerts', acknowledged: 'acknowledged', active: 'active', ended: 'ended', open: 'open',
    temperature: 'Temperature', humidity: 'Humidity', mean: 'mean', min: 'min', max: 'max',
    refused: 'Not acknowledged: ', live: 'live', offline: 'connection lost', licenses: 'Licences',
    why_password: 'Wrong user name or password', why_locked: 'Account locked: an administrator unlocks it',
  },
};

const page = {
  lang: 'zh',
  token: sessionStorage.getItem('token') || '',
  // Kept with the token, so that a page loaded again still asks for the password again.
  accessControl: sessionStorage.getItem('accessControl') === '1',
  chambers: new Map(),
  selected: null,
  span: 3600,
  plot: null,
  lastEventId: null,
};
// The language asked for in the address, else the one chosen before, else the browser's.
page.lang = new URLSearchParams(location.search).get('lang') || localStorage.getItem('lang') ||
  ((navigator.language || 'zh').toLowerCase().startsWith('zh') ? 'zh' : 'en');
if (!words[page.lang]) page.lang = 'zh';

const t = (key) => words[page.lang][key] || key;
const $ = (id) => document.getElementById(id);

function el(tag, attrs = {}, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) {
    if (k === 'class') e.className = v;
    else if (k.startsWith('on')) e.addEventListener(k.slice(2), v);
    else e.setAttribute(k, v);
  }
  for (const c of children) e.append(c instanceof Node ? c : document.createTextNode(String(c)));
  return e;
}

async function api(path, options = {}) {
  const headers = Object.assign({}, options.headers || {});
  if (page.token) headers.Authorization = 'Bearer ' + page.token;
  const r = await fetch(path, Object.assign({}, options, { headers }));
  // Only a missing or ended session asks for a login (a password refused for one action does
  // not end it).
  if (r.status === 401 && r.headers.has('WWW-Authenticate')) showLogin();
  return r;
}

function translate() {
  document.documentElement.lang = page.lang === 'zh' ? 'zh-CN' : 'en';
  for (const e of document.querySelectorAll('[data-t]')) e.textContent = t(e.dataset.t);
  document.title = 'VelmarS — ' + t('title');
}

function shown(value, decimals) {
  return typeof value === 'number' ? value.toFixed(decimals) : '—';
}

function chamberName(c) {
  return c.name || t('unnamed');
}

function tone(c) {
  if (c.alarms.some((a) => a.on) || c.loops.some((l) => l.sensorBroken)) return 'alarm';
  if (c.alerts.some((a) => !a.acknowledged)) return 'unacked';
  if (c.stale || c.link.state !== 'polling') return 'silent';
  return '';
}

function loopText(c, i) {
  const l = c.loops[i];
  return `${shown(l.pv, l.decimals)} / ${shown(l.sv, l.decimals)} ${l.unit}`;
}

function renderTiles() {
  const list = $('tiles');
  list.replaceChildren();
  for (const c of page.chambers.values()) {
    const status = [t(c.link.state), c.recorder.recording ? t('recording') : t('notRecording')];
    if (c.stale) status.unshift(t('stale'));
    const button = el('button', { type: 'button', onclick: () => select(c.id) },
      el('div', { class: 'name' }, chamberName(c)),
      el('div', { class: 'value', 'aria-label': t('temperature') }, loopText(c, 0)),
      el('div', { class: 'value', 'aria-label': t('humidity') }, loopText(c, 1)),
      el('div', {}, status.join(' · ')));
    list.append(el('li', { class: ('tile ' + tone(c)).trim(), 'data-chamber': c.id }, button));
  }
}

function renderValues() {
  const c = page.chambers.get(page.selected);
  if (!c) return;
  $('detailTitle').textContent = chamberName(c);
  const v = $('values');
  v.className = c.stale ? 'stale' : '';
  v.replaceChildren(
    el('span', {}, `${t('temperature')} ${loopText(c, 0)}`),
    el('span', {}, `${t('humidity')} ${loopText(c, 1)}`),
    el('span', {}, c.alarms.map((a, i) => `${t('alarm')}${i + 1}: ${a.on ? '●' : '○'}`).join('  ')),
    el('span', {}, t(c.link.state)));
}

async function renderAlerts() {
  const r = await api('/api/v1/alerts');
  if (!r.ok) return;
  const { alerts } = await r.json();
  const list = $('alertList');
  // An alert still listed keeps its form: what is typed there and the last answer stay.
  const kept = new Map();
  for (const li of list.querySelectorAll('li[data-alert]')) {
    const form = li.querySelector('form');
    if (form) kept.set(li.dataset.alert, form);
  }
  list.replaceChildren();
  if (!alerts.length) list.append(el('li', {}, t('noAlerts')));
  for (const a of alerts) {
    const c = page.chambers.get(a.chamber);
    const text = `${c ? chamberName(c) : a.chamber} · ${a.kind} · ${new Date(a.firedAt).toLocaleString(page.lang)}` +
      ` · ${a.active ? t('active') : t('ended')}${a.acknowledged ? ' · ' + t('acknowledged') : ''}`;
    const item = el('li', { 'data-alert': a.id }, text, ' ');
    if (!a.acknowledged) item.append(kept.get(a.id) || ackForm(a));
    list.append(item);
  }
}

function ackForm(a) {
  const comment = el('input', { 'aria-label': t('comment'), placeholder: t('comment'), required: '', class: 'comment' });
  const form = el('form', {}, comment);
  let password = null;
  if (page.accessControl) {
    password = el('input', { type: 'password', 'aria-label': t('password'), placeholder: t('password') });
    form.append(password);
  }
  const said = el('span', { role: 'alert' });
  form.append(el('button', { type: 'submit' }, t('acknowledge')), said);
  form.addEventListener('submit', async (ev) => {
    ev.preventDefault();
    const body = { chamber: a.chamber, comment: comment.value };
    if (password) body.password = password.value;
    const r = await api(`/api/v1/alerts/${encodeURIComponent(a.id)}/acknowledge`, {
      method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body),
    });
    if (r.ok) return renderAlerts();
    const code = (await r.json().catch(() => ({}))).code;
    said.textContent = t('refused') + (words[page.lang]['why_' + code] || code || r.status);
    if (password) password.value = '';
  });
  return form;
}

async function renderChart() {
  const c = page.chambers.get(page.selected);
  if (!c || typeof uPlot === 'undefined') return;
  const box = $('chart');
  const points = Math.max(100, Math.min(2000, Math.floor(box.clientWidth || 800)));
  const to = Date.now();
  const r = await api(`/api/v1/chambers/${encodeURIComponent(c.id)}/samples?from=${to - page.span * 1000}&to=${to}&points=${points}`);
  if (!r.ok) return;
  const data = await r.json();
  const cols = [[], [], [], [], [], [], []];
  for (const p of data.points) {
    cols[0].push(p.tMs / 1000);
    for (let i = 0; i < 2; i++) {
      cols[1 + i * 3].push(p.gap ? null : p.mean[i]);
      cols[2 + i * 3].push(p.gap ? null : p.min[i]);
      cols[3 + i * 3].push(p.gap ? null : p.max[i]);
    }
    if (p.gap) {  // the gap's end too, so that the line stays broken across it
      cols[0].push(p.tEndMs / 1000);
      for (let k = 1; k < 7; k++) cols[k].push(null);
    }
  }
  const line = (label, color, scale, width = 2) => ({ label, stroke: color, width, scale, spanGaps: false });
  const opts = {
    width: box.clientWidth || 800,
    height: 320,
    series: [
      {},
      line(`${t('temperature')} ${t('mean')}`, '#c0392b', '°C'),
      line(t('min'), 'rgba(192,57,43,0.3)', '°C', 1),
      line(t('max'), 'rgba(192,57,43,0.3)', '°C', 1),
      line(`${t('humidity')} ${t('mean')}`, '#2471a3', '%RH'),
      line(t('min'), 'rgba(36,113,163,0.3)', '%RH', 1),
      line(t('max'), 'rgba(36,113,163,0.3)', '%RH', 1),
    ],
    bands: [{ series: [3, 2], fill: 'rgba(192,57,43,0.12)' }, { series: [6, 5], fill: 'rgba(36,113,163,0.12)' }],
    axes: [{}, { scale: '°C', label: '°C' }, { scale: '%RH', label: '%RH', side: 1, grid: { show: false } }],
  };
  if (page.plot) page.plot.destroy();
  box.replaceChildren();
  page.plot = new uPlot(opts, cols, box);
  box.dataset.points = String(data.points.length);
}

async function renderEvents() {
  const c = page.chambers.get(page.selected);
  if (!c) return;
  const r = await api(`/api/v1/chambers/${encodeURIComponent(c.id)}/events?limit=50`);
  if (!r.ok) return;
  const list = $('events');
  list.replaceChildren();
  for (const e of (await r.json()).events)
    list.append(el('li', {}, `${new Date(e.at).toLocaleString(page.lang)} ${page.lang === 'zh' ? e.text : e.textShown}`));
}

async function renderRuns() {
  const c = page.chambers.get(page.selected);
  if (!c) return;
  const r = await api(`/api/v1/chambers/${encodeURIComponent(c.id)}/runs`);
  if (!r.ok) return;
  const list = $('runs');
  list.replaceChildren();
  for (const run of (await r.json()).runs) {
    const item = el('li', {}, `${run.name} · ${new Date(run.start).toLocaleString(page.lang)} · ${run.end ? t('ended') : t('open')} `);
    const link = el('a', { href: '#' }, t('report'));
    link.addEventListener('click', async (ev) => {
      ev.preventDefault();
      const pdf = await api(run.report);
      if (pdf.ok) window.open(URL.createObjectURL(await pdf.blob()));
    });
    item.append(link);
    list.append(item);
  }
}

function select(id) {
  page.selected = id;
  $('detail').hidden = false;
  renderValues();
  renderChart();
  renderEvents();
  renderRuns();
  $('detail').scrollIntoView();
  $('detailTitle').setAttribute('tabindex', '-1');
  $('detailTitle').focus();
}

function take(c) {
  const before = page.chambers.get(c.id);
  page.chambers.set(c.id, c);
  renderTiles();
  if (c.id === page.selected) renderValues();
  // An alert acknowledged (here or elsewhere), gone or back to normal: the list follows.
  if (before && JSON.stringify(before.alerts) !== JSON.stringify(c.alerts)) renderAlerts();
}

// The stream through fetch, so that the token goes in its header; resumed after a break.
async function follow() {
  for (;;) {
    try {
      const headers = {};
      if (page.lastEventId) headers['Last-Event-ID'] = page.lastEventId;
      const r = await api('/api/v1/stream', { headers });
      if (!r.ok) throw new Error(String(r.status));
      $('live').textContent = t('live');
      const reader = r.body.getReader();
      const decoder = new TextDecoder();
      let buffer = '';
      for (;;) {
        const { value, done } = await reader.read();
        if (done) break;
        buffer += decoder.decode(value, { stream: true });
        let end;
        while ((end = buffer.indexOf('\n\n')) >= 0) {
          handle(buffer.slice(0, end));
          buffer = buffer.slice(end + 2);
        }
      }
    } catch (e) { /* tried again below */ }
    $('live').textContent = t('offline');
    await new Promise((done) => setTimeout(done, 2000));
  }
}

function handle(block) {
  let event = 'message', data = '';
  for (const line of block.split('\n')) {
    if (line.startsWith('id: ')) page.lastEventId = line.slice(4);
    else if (line.startsWith('event: ')) event = line.slice(7);
    else if (line.startsWith('data: ')) data += line.slice(6);
  }
  if (!data) return;
  const message = JSON.parse(data);
  if (event === 'state') take(message);
  else if (event === 'removed') { page.chambers.delete(message.id); renderTiles(); }
  else if (event === 'alert') renderAlerts();
  else if (event === 'event' && message.chamber === page.selected) renderEvents();
}

function showLogin() {
  $('login').hidden = false;
}

async function start() {
  translate();
  $('lang').addEventListener('click', () => {
    page.lang = page.lang === 'zh' ? 'en' : 'zh';
    localStorage.setItem('lang', page.lang);
    translate();
    renderTiles();
    renderValues();
    renderAlerts();
    renderChart();
  });
  for (const b of document.querySelectorAll('#spans button'))
    b.addEventListener('click', () => {
      page.span = Number(b.dataset.span);
      for (const o of document.querySelectorAll('#spans button')) o.setAttribute('aria-pressed', String(o === b));
      renderChart();
    });
  $('loginForm').addEventListener('submit', async (ev) => {
    ev.preventDefault();
    if ($('token').value) {
      page.token = $('token').value.trim();
    } else {
      const r = await fetch('/api/v1/session', {
        method: 'POST', headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ user: $('user').value, password: $('password').value }),
      });
      if (!r.ok) { $('loginError').textContent = (await r.json()).code; return; }
      page.token = (await r.json()).token;
      page.accessControl = true;
    }
    sessionStorage.setItem('token', page.token);
    sessionStorage.setItem('accessControl', page.accessControl ? '1' : '');
    $('login').hidden = true;
    load();
  });
  load();
  follow();
}

async function load() {
  const r = await api('/api/v1/chambers');
  if (!r.ok) return;
  for (const c of (await r.json()).chambers) page.chambers.set(c.id, c);
  renderTiles();
  renderAlerts();
  const first = new URLSearchParams(location.search).get('chamber');
  if (first !== null && page.chambers.has(first)) select(first);
}

document.addEventListener('DOMContentLoaded', start);
