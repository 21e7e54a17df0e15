// The launcher page: polls the launcher state every 350 ms and draws everything from it.
(function () {
  'use strict';

  var POLL_MS = 350;
  var MIB = 1048576;
  var TITLES = {
    checking: 'Checking for updates',
    downloading: 'Getting Muvra ready',
    verifying: 'Verifying your update',
    ready: 'Ready when you are',
    launching: 'Opening Muvra',
    launched: 'Muvra is open',
    error: 'Something needs attention',
    cancelled: 'Update cancelled',
    idle: 'Your next session starts here'
  };

  function byId(id) { return document.getElementById(id); }

  var title = byId('loaderTitle');
  var message = byId('loaderMessage');
  var latest = byId('latestVersion');
  var installed = byId('installedVersion');
  var area = byId('downloadArea');
  var progress = byId('downloadProgress');
  var detail = byId('downloadDetail');
  var badge = byId('loaderBadge');
  var launchButton = byId('launchBtn');
  var checkButton = byId('checkBtn');
  var cancelButton = byId('cancelBtn');
  var inFlight = false;
  var drawn = null;  // the state on screen; null once something else has written the message

  // Writes only what changed, so an unchanged state costs the page no layout or paint.
  function setText(element, text) {
    if (element.textContent !== text) element.textContent = text;
  }

  function setProperty(element, name, value) {
    if (element[name] !== value) element[name] = value;
  }

  function detailText(s) {
    if (s.total) {
      return (s.downloaded / MIB).toFixed(1) + ' / ' + (s.total / MIB).toFixed(1) +
        ' MB \u00b7 ' + s.progress + '%';
    }
    return s.busy ? 'Working\u2026' : '';
  }

  // Whether two states have the same members with the same values (all of them are plain values).
  function sameState(a, b) {
    if (!a || !b) return false;
    var keys = Object.keys(a);
    if (keys.length !== Object.keys(b).length) return false;
    for (var i = 0; i < keys.length; i++) {
      if (a[keys[i]] !== b[keys[i]]) return false;
    }
    return true;
  }

  function showFailure(error) {
    drawn = null;
    message.textContent = error.message;
  }

  // An unchanged state costs one comparison: the page reads nothing back from the document.
  function draw(s) {
    if (sameState(s, drawn)) return;
    setText(title, Object.prototype.hasOwnProperty.call(TITLES, s.phase) ? TITLES[s.phase] : 'Muvra');
    setText(message, s.message || '');
    setText(latest, s.latestVersion || 'Not checked');
    setText(installed, s.canLaunch ? 'Verified' : 'Not verified');
    setProperty(launchButton, 'disabled', !s.canLaunch || Boolean(s.busy));
    setProperty(checkButton, 'disabled', Boolean(s.busy));
    setProperty(cancelButton, 'hidden', !s.busy);
    setProperty(area, 'hidden', !(s.busy || s.progress > 0));
    setProperty(progress, 'value', s.progress || 0);
    setText(detail, detailText(s));
    setText(badge, s.busy ? 'Working' : (s.canLaunch ? 'Ready' : 'Launcher'));
    var state = s.phase === 'error' ? 'error' : (s.canLaunch ? 'ready' : 'connecting');
    if (badge.dataset.state !== state) badge.dataset.state = state;
    drawn = s;
  }

  function refresh() {
    if (inFlight) {
      return Promise.resolve();
    }
    inFlight = true;
    return window.muvra.call('get_loader_state').then(draw, showFailure).catch(function () {
      // A state that cannot be drawn is skipped; the next poll draws the next one.
    }).then(function () {
      inFlight = false;
    });
  }

  function bindAction(button, method) {
    button.addEventListener('click', function () {
      window.muvra.call(method).catch(showFailure).then(refresh);
    });
  }

  bindAction(checkButton, 'check_update');
  bindAction(launchButton, 'launch_app');
  bindAction(cancelButton, 'cancel_update');

  refresh();
  var timer = setInterval(refresh, POLL_MS);
  window.addEventListener('pagehide', function () { clearInterval(timer); });
})();
