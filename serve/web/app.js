// The page of vnlt serve: one number as it is typed, a pasted list, a whole
// CSV or .xlsx file, and where the answered numbers are. Every text from the
// directory goes in as textContent, never as markup, and every request goes
// to this page's own service.
'use strict';
(() => {
  const TEXTS = {
    zh: {
      title: '号码归属地', one: '查一个号码', numberLabel: '输入或粘贴号码，随输随查',
      list: '查一列号码', listLabel: '每行一个号码（可以从表格复制一列粘贴进来）', ask: '查询', copy: '复制结果',
      copied: '已复制 {n} 行', shown: '共 {n} 个号码；表中列出前 {m} 个，复制和统计包括全部',
      file: '查一个文件', drop: '把 CSV 或 Excel（.xlsx）文件拖到这里，或选择文件', column: '号码所在的列',
      run: '查询整个文件', rows: '{name}：{n} 行', header: '（第一行是标题）', loading: '正在读取 Excel 文件…',
      working: '已查 {done} / {n}', done: '完成：{n} 行。', csv: '下载 CSV', xlsx: '下载 Excel（.xlsx）',
      unreadable: '无法读取这个文件：{why}', empty: '文件里没有数据。', failed: '查询失败：{why}',
      where: '这些号码在哪里', byProvince: '按省份', byType: '按运营商和类型',
      footer: '号码只发给提供本页的 Varnolt 服务，不会发往别处。', licences: '所用库的许可',
      number: '号码', key: '号段', area: '归属地', type: '类型', province: '省份', city: '城市', areaCode: '区号',
      status: '状态', found: '已找到', unknown: '未知', foreign: '国外', invalid: '无效', none: '（无）',
      notFound: { unknown: '目录中没有这个号段。', foreign: '这是国外号码。', invalid: '这不是有效的中国号码。' },
      other: '（其他）', lang: 'English',
    },
    en: {
      title: 'Home area of a number', one: 'Look up a number', numberLabel: 'Type or paste a number: it is answered as you type',
      list: 'Look up a list', listLabel: 'One number a line (paste a column copied from a spreadsheet)', ask: 'Look up',
      copy: 'Copy the answers', copied: '{n} rows copied', shown: '{n} numbers; the table shows the first {m}, copying and the counts take all',
      file: 'Look up a file', drop: 'Drop a CSV or Excel (.xlsx) file here, or choose one', column: 'Column of the numbers',
      run: 'Look up the whole file', rows: '{name}: {n} rows', header: ' (the first is a header)',
      loading: 'Reading the Excel file…', working: '{done} of {n} answered', done: 'Done: {n} rows.',
      csv: 'Download CSV', xlsx: 'Download Excel (.xlsx)', unreadable: 'Cannot read this file: {why}',
      empty: 'The file holds no rows.', failed: 'The lookup failed: {why}',
      where: 'Where these numbers are', byProvince: 'By province', byType: 'By carrier and type',
      footer: 'Numbers go only to the Varnolt service that serves this page, nowhere else.', licences: 'Licences of the libraries',
      number: 'Number', key: 'Key', area: 'Area', type: 'Type', province: 'Province', city: 'City', areaCode: 'Area code',
      status: 'Status', found: 'found', unknown: 'unknown', foreign: 'foreign', invalid: 'invalid', none: '(none)',
      notFound: { unknown: 'The directory has no entry for this number.', foreign: 'This is a number abroad.', invalid: 'This is not a valid Chinese number.' },
      other: '(other)', lang: '中文',
    },
  };
  // The answer's columns appended to a file's rows, as `vnlt query --column` appends them.
  const APPENDED = ['key', 'found', 'area', 'type', 'province', 'city', 'areaCode', 'status'];
  const SHOWN = ['area', 'type', 'province', 'city', 'areaCode', 'status'];
  const STATUSES = ['found', 'unknown', 'foreign', 'invalid'];
  const PIECE = 5000;  // numbers a request: a progress bar that moves, replies of some 1 MB
  const TABLE_ROWS = 2000;  // a pasted list's rows drawn; copying takes all
  const MAX_NUMBER_BYTES = 100;  // the service refuses a batch holding a longer one

  const $ = (id) => document.getElementById(id);
  let lang = localStorage.getItem('vnlt-lang') === 'en' ? 'en' : 'zh';
  const say = (key, values = {}) => TEXTS[lang][key].replace(/\{(\w+)\}/g, (_, name) => values[name]);
  const make = (tag, text, className) => {
    const node = document.createElement(tag);
    if (text !== undefined) node.textContent = text;
    if (className) node.className = className;
    return node;
  };
  const redraw = {};  // what shows answers again in the other language

  function applyLanguage() {
    document.documentElement.lang = lang === 'zh' ? 'zh-CN' : 'en';
    for (const node of document.querySelectorAll('[data-t]')) node.textContent = say(node.dataset.t);
    $('lang').textContent = say('lang');
    $('lang').lang = lang === 'zh' ? 'en' : 'zh-CN';
    document.title = 'Varnolt ' + say('title');
    for (const draw of Object.values(redraw)) draw();
  }

  async function askOne(number, signal) {
    const reply = await fetch('/v1/lookup?number=' + encodeURIComponent(number), { signal });
    if (!reply.ok) throw new Error((await reply.json()).error);
    return reply.json();
  }

  // Numbers the service would refuse a whole batch for are answered here.
  const tooLong = (text) => new TextEncoder().encode(text).length > MAX_NUMBER_BYTES;
  async function askMany(numbers, progress) {
    const answers = [];
    for (let at = 0; at < numbers.length; at += PIECE) {
      const piece = numbers.slice(at, at + PIECE);
      const sent = piece.filter((n) => !tooLong(n));
      const reply = await fetch('/v1/lookup', { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(sent) });
      if (!reply.ok) throw new Error((await reply.json().catch(() => ({ error: reply.statusText }))).error);
      const got = await reply.json();
      let next = 0;
      for (const n of piece) answers.push(tooLong(n) ? { number: n, found: false, status: 'invalid' } : got[next++]);
      if (progress) progress(answers.length, numbers.length);
    }
    return answers;
  }

  // One number, answered as it is typed; a newer keystroke cancels the older question.
  let typing, asking;
  function showAnswer(answer) {
    const box = $('answer');
    redraw.answer = () => showAnswer(answer);
    box.replaceChildren();
    if (!answer) return;
    if (!answer.found) {
      box.append(make('p', (TEXTS[lang].notFound[answer.status] || answer.status), 'note'));
      return;
    }
    const list = make('dl', undefined, 'answer');
    for (const field of SHOWN) {
      const item = make('div', undefined, field === 'area' ? 'main' : '');
      item.append(make('dt', say(field)), make('dd', field === 'status' ? say(answer.status) : answer[field] || say('none')));
      list.append(item);
    }
    box.append(list);
  }
  $('number').addEventListener('input', () => {
    clearTimeout(typing);
    if (asking) asking.abort();
    const number = $('number').value.trim();
    if (!number) return showAnswer(null);
    typing = setTimeout(() => {
      asking = new AbortController();
      askOne(number, asking.signal).then(showAnswer, (e) => {
        if (e.name !== 'AbortError') $('answer').replaceChildren(make('p', say('failed', { why: e.message }), 'note'));
      });
    }, 120);
  });

  // The counts of a set of answers: by status, by province, by type.
  function showSummary(answers) {
    redraw.summary = () => showSummary(answers);
    const byStatus = Object.fromEntries(STATUSES.map((s) => [s, 0]));
    const provinces = new Map(), types = new Map();
    const add = (map, name) => map.set(name, (map.get(name) || 0) + 1);
    for (const a of answers) {
      byStatus[a.status] = (byStatus[a.status] || 0) + 1;
      if (!a.found) continue;
      add(provinces, a.province || a.area || say('other'));
      add(types, a.type || say('other'));
    }
    $('counts').replaceChildren(...STATUSES.map((s) => {
      const item = make('li', say(s));
      item.dataset.status = s;
      item.append(make('b', String(byStatus[s])));
      return item;
    }));
    bars($('provinces'), provinces);
    bars($('types'), types);
    $('summary').hidden = false;
  }
  function bars(list, counts) {
    const sorted = [...counts].sort((x, y) => y[1] - x[1] || x[0].localeCompare(y[0], 'zh-CN'));
    const most = sorted.length ? sorted[0][1] : 1;
    list.replaceChildren(...sorted.map(([name, count]) => {
      const item = make('li');
      const track = make('span', undefined, 'track');
      const fill = make('span', undefined, 'fill');
      fill.style.width = (100 * count / most) + '%';
      track.append(fill);
      track.setAttribute('aria-hidden', 'true');
      item.append(make('span', name, 'name'), track, make('span', String(count), 'count'));
      return item;
    }));
  }

  // A pasted list: answered in a table, copied as tab-separated text.
  let listAnswers = [];
  const cellsOf = (a) => [a.number, ...SHOWN.map((f) => (f === 'status' ? say(a.status) : a[f] || ''))];
  function showTable() {
    const head = make('tr');
    for (const name of ['number', ...SHOWN]) head.append(make('th', say(name)));
    $('table').tHead.replaceChildren(head);
    $('table').tBodies[0].replaceChildren(...listAnswers.slice(0, TABLE_ROWS).map((a) => {
      const row = make('tr');
      for (const cell of cellsOf(a)) row.append(make('td', cell));
      return row;
    }));
    $('tableBox').hidden = false;
    $('listNote').textContent = listAnswers.length > TABLE_ROWS ? say('shown', { n: listAnswers.length, m: TABLE_ROWS }) : '';
  }
  async function askList() {
    const numbers = $('list').value.split(/\r?\n/).map((line) => line.trim()).filter((line) => line);
    if (!numbers.length) return;
    $('ask').disabled = true;
    try {
      listAnswers = await askMany(numbers);
      redraw.table = showTable;
      showTable();
      showSummary(listAnswers);
      $('copy').disabled = false;
    } catch (e) {
      $('listNote').textContent = say('failed', { why: e.message });
    } finally {
      $('ask').disabled = false;
    }
  }
  $('ask').addEventListener('click', askList);
  $('list').addEventListener('paste', () => setTimeout(askList, 0));
  $('list').addEventListener('keydown', (e) => {
    if (e.key === 'Enter' && (e.ctrlKey || e.metaKey)) askList();
  });
  $('copy').addEventListener('click', async () => {
    const lines = [['number', ...SHOWN].map((f) => say(f)), ...listAnswers.map(cellsOf)];
    const text = lines.map((cells) => cells.join('\t')).join('\n') + '\n';
    try {
      await navigator.clipboard.writeText(text);
    } catch {
      const scratch = make('textarea', text);
      document.body.append(scratch);
      scratch.select();
      document.execCommand('copy');
      scratch.remove();
    }
    $('listNote').textContent = say('copied', { n: listAnswers.length });
  });

  // CSV as RFC 4180 reads it: quoted fields with commas, quotes and line ends.
  function parseDelimited(text) {
    const firstLine = text.slice(0, text.search(/\r?\n|$/));
    const separator = (firstLine.match(/\t/g) || []).length > (firstLine.match(/,/g) || []).length ? '\t' : ',';
    const rows = [];
    let row = [], field = '', quoted = false, at = 0;
    while (at < text.length) {
      const c = text[at++];
      if (quoted) {
        if (c !== '"') field += c;
        else if (text[at] === '"') { field += '"'; at++; } else quoted = false;
      } else if (c === '"' && field === '') quoted = true;
      else if (c === separator) { row.push(field); field = ''; }
      else if (c === '\n' || c === '\r') {
        if (c === '\r' && text[at] === '\n') at++;
        row.push(field); rows.push(row); row = []; field = '';
      } else field += c;
    }
    if (field !== '' || row.length) { row.push(field); rows.push(row); }
    return rows;
  }
  // UTF-8 when it is well-formed, else GBK, as Excel on a Chinese Windows saves CSV.
  function decode(bytes) {
    if (bytes[0] === 0xff && bytes[1] === 0xfe) return new TextDecoder('utf-16le').decode(bytes);
    try {
      return new TextDecoder('utf-8', { fatal: true }).decode(bytes);
    } catch {
      return new TextDecoder('gbk').decode(bytes);
    }
  }
  const csvField = (value) => {
    const text = value === null || value === undefined ? '' : value instanceof Date ? value.toISOString() : String(value);
    return /[",\r\n]/.test(text) ? '"' + text.replace(/"/g, '""') + '"' : text;
  };
  function loadScript(src) {
    return new Promise((resolve, reject) => {
      const script = make('script');
      script.src = src;
      script.onload = resolve;
      script.onerror = () => reject(new Error(src));
      document.head.append(script);
    });
  }

  // A dropped or chosen file: its rows, the number column, then the same
  // rows with the answers appended.
  let sheet = null;  // { name, rows, xlsx }
  const hasDigit = (value) => /\d/.test(String(value ?? ''));
  const headerOf = (rows, column) => !hasDigit(rows[0][column]);
  async function openFile(file) {
    for (const link of $('downloads').querySelectorAll('a')) URL.revokeObjectURL(link.href);
    $('downloads').replaceChildren();
    $('fileForm').hidden = true;
    const xlsx = /\.xlsx$/i.test(file.name);
    try {
      let rows;
      if (xlsx) {
        $('fileNote').textContent = say('loading');
        if (!window.readXlsxFile) await loadScript('vendor/read-excel-file.min.js');
        const sheets = await window.readXlsxFile(file, { trim: false });
        rows = Array.isArray(sheets[0]?.data) ? sheets[0].data : sheets;
      } else {
        rows = parseDelimited(decode(new Uint8Array(await file.arrayBuffer())));
      }
      if (!rows.length) throw new Error(say('empty'));
      const width = Math.max(...rows.slice(0, 1000).map((r) => r.length));
      sheet = { name: file.name.replace(/\.[^.]*$/, ''), rows, xlsx };
      // The column whose first rows hold the most digits is the likely number column.
      const digits = (column) => rows.slice(0, 50).reduce((n, r) => n + (String(r[column] ?? '').match(/\d/g) || []).length, 0);
      let best = 0;
      for (let c = 1; c < width; c++) if (digits(c) > digits(best)) best = c;
      const options = [];
      for (let c = 0; c < width; c++) {
        const first = String(rows[0][c] ?? '');
        options.push(make('option', `${c + 1}: ${first.slice(0, 40)}`));
        options[c].value = c;
      }
      $('column').replaceChildren(...options);
      $('column').value = best;
      $('fileNote').textContent = say('rows', { name: file.name, n: rows.length }) + (headerOf(rows, best) ? say('header') : '');
      $('fileForm').hidden = false;
      $('column').focus();
    } catch (e) {
      sheet = null;
      $('fileNote').textContent = say('unreadable', { why: e.message });
    }
  }
  async function answerFile() {
    const { rows, name, xlsx } = sheet;
    const column = Number($('column').value);
    const header = headerOf(rows, column);
    const width = Math.max(rows[0].length, column + 1);
    const body = rows.slice(header ? 1 : 0);
    const blank = (r) => r.length <= 1 && String(r[0] ?? '') === '';
    const numbers = body.filter((r) => !blank(r)).map((r) => String(r[column] ?? '').trim());
    $('run').disabled = true;
    $('progress').hidden = false;
    $('progress').value = 0;
    try {
      const answers = await askMany(numbers, (done, n) => {
        $('progress').value = done / n;
        $('fileNote').textContent = say('working', { done, n });
      });
      let next = 0;
      const out = header ? [[...rows[0], ...Array(width - rows[0].length).fill(''), ...APPENDED]] : [];
      for (const r of body) {
        if (blank(r)) { out.push([]); continue; }
        const a = answers[next++];
        const padded = [...r, ...Array(Math.max(0, width - r.length)).fill('')];
        out.push([...padded, ...APPENDED.map((f) => (f === 'found' ? String(a.found) : a[f] === undefined ? '' : String(a[f])))]);
      }
      const csv = '\ufeff' + out.map((r) => r.map(csvField).join(',')).join('\r\n') + '\r\n';
      offer(new Blob([csv], { type: 'text/csv;charset=utf-8' }), name + '-归属地.csv', say('csv'));
      if (xlsx) {
        if (!window.writeXlsxFile) await loadScript('vendor/write-excel-file.min.js');
        const cells = out.map((r) => r.map((v) => (v === '' || v === undefined ? null : v)));
        offer(await window.writeXlsxFile(cells).toBlob(), name + '-归属地.xlsx', say('xlsx'));
      }
      $('progress').value = 1;
      $('fileNote').textContent = say('done', { n: rows.length });
      showSummary(answers);
    } catch (e) {
      $('fileNote').textContent = say('failed', { why: e.message });
    } finally {
      $('run').disabled = false;
    }
  }
  function offer(blob, fileName, label) {
    const link = make('a', label);
    link.href = URL.createObjectURL(blob);
    link.download = fileName;
    link.dataset.kind = fileName.endsWith('.xlsx') ? 'xlsx' : 'csv';
    $('downloads').append(link);
  }
  $('file').addEventListener('change', () => $('file').files[0] && openFile($('file').files[0]));
  $('run').addEventListener('click', () => sheet && answerFile());
  const drop = $('drop');
  drop.addEventListener('dragover', (e) => { e.preventDefault(); drop.classList.add('over'); });
  drop.addEventListener('dragleave', () => drop.classList.remove('over'));
  drop.addEventListener('drop', (e) => {
    e.preventDefault();
    drop.classList.remove('over');
    if (e.dataTransfer.files[0]) openFile(e.dataTransfer.files[0]);
  });

  $('lang').addEventListener('click', () => {
    lang = lang === 'zh' ? 'en' : 'zh';
    localStorage.setItem('vnlt-lang', lang);
    applyLanguage();
  });
  applyLanguage();
})();
