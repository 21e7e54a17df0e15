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

  function draw(s) {
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
  }

  function refresh() {
    if (inFlight) {
      return Promise.resolve();
    }
    inFlight = true;
    return window.muvra.call('get_loader_state').then(draw, function (error) {
      message.textContent = error.message;
    }).catch(function () {
      // A state that cannot be drawn is skipped; the next poll draws the next one.
    }).then(function () {
      inFlight = false;
    });
  }

  function bindAction(button, method) {
    button.addEventListener('click', function () {
      window.muvra.call(method).catch(function (error) {
        message.textContent = error.message;
      }).then(refresh);
    });
  }

  bindAction(checkButton, 'check_update');
  bindAction(launchButton, 'launch_app');
  bindAction(cancelButton, 'cancel_update');

  refresh();
  var timer = setInterval(refresh, POLL_MS);
  window.addEventListener('pagehide', function () { clearInterval(timer); });
})();
