// Desktop bridge: window.muvra.call(method, ...params) returns a promise of the host's reply.
(function () {
  'use strict';

  var TIMEOUT_MS = 15000;
  var pending = new Map();
  var lastId = 0;
  var webview = window.chrome && window.chrome.webview;

  function call(method) {
    var params = Array.prototype.slice.call(arguments, 1);
    if (!webview) {
      return Promise.reject(new Error('Open the Muvra desktop app to use these controls.'));
    }
    var id = ++lastId;
    return new Promise(function (resolve, reject) {
      var timer = setTimeout(function () {
        pending.delete(id);
        reject(new Error('The desktop request timed out.'));
      }, TIMEOUT_MS);
      pending.set(id, { resolve: resolve, reject: reject, timer: timer });
      webview.postMessage({ id: id, method: method, params: params });
    });
  }

  function onMessage(event) {
    var message = event.data;
    if (!message || typeof message !== 'object') {
      return;
    }
    if (message.event) {
      window.dispatchEvent(new CustomEvent('muvra-' + message.event, { detail: message }));
      return;
    }
    var entry = pending.get(message.id);
    if (!entry) {
      return;
    }
    clearTimeout(entry.timer);
    pending.delete(message.id);
    if (message.error) {
      entry.reject(new Error(message.error));
    } else {
      entry.resolve(message.result);
    }
  }

  function ignore() {}

  function bindWindowControls() {
    var minimize = document.getElementById('minimizeBtn');
    var close = document.getElementById('closeBtn');
    var header = document.getElementById('windowHeader');
    if (minimize) {
      minimize.addEventListener('click', function () { call('minimize').catch(ignore); });
    }
    if (close) {
      close.addEventListener('click', function () { call('close').catch(ignore); });
    }
    if (header) {
      header.addEventListener('mousedown', function (event) {
        if (event.button === 0 && !(event.target.closest && event.target.closest('button'))) {
          call('drag_window').catch(ignore);
        }
      });
    }
  }

  function stampVersion() {
    var elements = document.querySelectorAll('[data-version]');
    for (var i = 0; i < elements.length; i++) {
      elements[i].textContent = 'v' + window.MUVRA_VERSION;
    }
  }

  if (webview) {
    webview.addEventListener('message', onMessage);
  }
  window.muvra = { call: call };
  stampVersion();
  bindWindowControls();
})();

// Control centre: the managed application's settings, kept in this page's local storage until
// the application reads them. Does nothing on pages without the settings container.
(function () {
  'use strict';

  var container = document.getElementById('settingsList');
  if (!container) {
    return;
  }

  var STORAGE_KEY = 'muvra.settings';
  var SETTINGS = [
    { key: 'startMinimized', label: 'Start minimised', hint: 'Open Muvra in the tray.', kind: 'toggle', initial: false },
    { key: 'hardwareAcceleration', label: 'Hardware acceleration', hint: 'Use the graphics card when it helps.', kind: 'toggle', initial: true },
    { key: 'notifications', label: 'Notifications', hint: 'Show a note when something needs you.', kind: 'toggle', initial: true },
    { key: 'theme', label: 'Theme', hint: 'How Muvra looks.', kind: 'choice', initial: 'dark', choices: ['dark', 'darker', 'system'] }
  ];

  function load() {
    var stored = {};
    try {
      stored = JSON.parse(window.localStorage.getItem(STORAGE_KEY) || '{}') || {};
    } catch (ignored) {
      stored = {};
    }
    var values = {};
    SETTINGS.forEach(function (setting) {
      values[setting.key] = setting.key in stored ? stored[setting.key] : setting.initial;
    });
    return values;
  }

  var values = load();
  var note = document.getElementById('settingsNote');

  function save() {
    try {
      window.localStorage.setItem(STORAGE_KEY, JSON.stringify(values));
      if (note) {
        note.textContent = 'Saved.';
      }
    } catch (ignored) {
      if (note) {
        note.textContent = 'Settings could not be saved on this computer.';
      }
    }
  }

  function control(setting) {
    var input;
    if (setting.kind === 'toggle') {
      input = document.createElement('input');
      input.type = 'checkbox';
      input.checked = Boolean(values[setting.key]);
      input.addEventListener('change', function () {
        values[setting.key] = input.checked;
        save();
      });
    } else {
      input = document.createElement('select');
      setting.choices.forEach(function (choice) {
        var option = document.createElement('option');
        option.value = choice;
        option.textContent = choice.charAt(0).toUpperCase() + choice.slice(1);
        input.appendChild(option);
      });
      input.value = values[setting.key];
      input.addEventListener('change', function () {
        values[setting.key] = input.value;
        save();
      });
    }
    input.id = 'setting-' + setting.key;
    return input;
  }

  SETTINGS.forEach(function (setting) {
    var row = document.createElement('label');
    row.className = 'setting-row';
    row.htmlFor = 'setting-' + setting.key;
    var text = document.createElement('span');
    var title = document.createElement('strong');
    title.textContent = setting.label;
    var hint = document.createElement('small');
    hint.textContent = setting.hint;
    text.appendChild(title);
    text.appendChild(hint);
    row.appendChild(text);
    row.appendChild(control(setting));
    container.appendChild(row);
  });
})();
