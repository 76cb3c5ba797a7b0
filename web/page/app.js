'use strict';
// The call log page: asks the server for one page of calls at a time and shows every field
// through textContent or value, so that nothing a caller sends is ever read as markup.
(function () {
  const csrf = document.querySelector('meta[name="csrf-token"]').content;
  const $ = (id) => document.getElementById(id);
  const state = { page: 0, sort: '0', order: 'desc', pages: 1, asked: 0 };
  const labels = ['日期', '时间', '方向', '号码', '姓名', '时长', '备注', '文件'];
  let typing = null;

  function query() {
    const q = new URLSearchParams({
      q: $('search').value, direction: $('direction').value, period: $('period').value,
      shortest: $('shortest').value, sort: state.sort, order: state.order, page: state.page,
    });
    if ($('period').value === 'range') { q.set('from', $('from').value); q.set('to', $('to').value); }
    return q;
  }

  function cell(row, label, text) {
    const td = row.insertCell();
    td.dataset.label = label;
    td.textContent = text;
    return td;
  }

  function play(call, row) {
    const player = $('player');
    player.src = call.url;
    $('playing').textContent = [call.date, call.time, call.number, call.name].join(' ');
    document.querySelectorAll('tr.current').forEach((tr) => tr.classList.remove('current'));
    row.classList.add('current');
    player.play().catch(() => {});
  }

  async function saveNote(call, input) {
    input.classList.remove('error');
    try {
      const answer = await fetch('/api/note', {
        method: 'POST', headers: { 'X-CSRF-Token': csrf },
        body: new URLSearchParams({ id: call.id, note: input.value }),
      });
      if (!answer.ok) throw new Error(await answer.text());
      call.note = input.value;
      input.classList.remove('unsaved');
      input.title = '已保存';
    } catch (e) {
      input.classList.add('error');
      $('error').textContent = '备注没有保存：' + e.message;
    }
  }

  function show(result) {
    const body = $('calls').tBodies[0];
    body.replaceChildren();
    for (const call of result.rows) {
      const row = body.insertRow();
      [call.date, call.time, call.direction, call.number, call.name, call.length].forEach(
        (text, i) => cell(row, labels[i], text));
      const note = cell(row, labels[6], '');
      note.className = 'note';
      const input = document.createElement('input');
      input.value = call.note;
      input.setAttribute('aria-label', '备注');
      // Saved on leaving the field, and again after a failure, until the journal has it.
      input.addEventListener('input', () => input.classList.add('unsaved'));
      input.addEventListener('blur', () => { if (input.value !== call.note) saveNote(call, input); });
      input.addEventListener('keydown', (e) => { if (e.key === 'Enter') input.blur(); });
      note.append(input);
      cell(row, labels[7], call.file);
      const actions = row.insertCell();
      actions.className = 'actions';
      if (call.url) {
        const playButton = document.createElement('button');
        playButton.type = 'button';
        playButton.className = 'play';
        playButton.textContent = '播放';
        playButton.addEventListener('click', () => play(call, row));
        const download = document.createElement('a');
        download.href = call.url + '?download=1';
        download.textContent = '下载';
        actions.append(playButton, download);
      }
    }
    state.pages = Math.max(1, Math.ceil(result.total / result.pageSize));
    $('count').textContent = '共 ' + result.total + ' 条';
    $('page').textContent = '第 ' + (state.page + 1) + ' / ' + state.pages + ' 页';
    $('previous').disabled = state.page === 0;
    $('next').disabled = state.page + 1 >= state.pages;
  }

  async function load() {
    const asked = ++state.asked;
    try {
      const answer = await fetch('/api/calls?' + query());
      if (answer.status === 401) { location.href = '/login'; return; }
      if (!answer.ok) throw new Error(await answer.text());
      const result = await answer.json();
      if (asked !== state.asked) return;
      $('error').textContent = '';
      show(result);
    } catch (e) {
      if (asked === state.asked) $('error').textContent = e.message;
    }
  }

  function refilter() {
    state.page = 0;
    clearTimeout(typing);
    typing = setTimeout(load, 150);
  }

  $('search').addEventListener('input', refilter);
  for (const id of ['direction', 'period', 'from', 'to', 'shortest'])
    $(id).addEventListener('change', refilter);
  $('period').addEventListener('change', () => { $('range').hidden = $('period').value !== 'range'; });
  $('previous').addEventListener('click', () => { state.page--; load(); });
  $('next').addEventListener('click', () => { state.page++; load(); });
  document.querySelectorAll('th[data-sort]').forEach((th) => th.addEventListener('click', () => {
    state.order = state.sort === th.dataset.sort && state.order === 'desc' ? 'asc' : 'desc';
    state.sort = th.dataset.sort;
    document.querySelectorAll('th').forEach((other) => other.classList.remove('sorted', 'ascending'));
    th.classList.add('sorted');
    th.classList.toggle('ascending', state.order === 'asc');
    load();
  }));
  // Notes written at the desk show here too, unless one is being written on this page.
  setInterval(() => {
    if (!document.querySelector('td.note input.unsaved') &&
        !document.activeElement.matches('td.note input')) load();
  }, 15000);
  load();
})();
