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

  function detailText(s) {
    if (s.total) {
      return (s.downloaded / MIB).toFixed(1) + ' / ' + (s.total / MIB).toFixed(1) +
        ' MB \u00b7 ' + s.progress + '%';
    }
    return s.busy ? 'Working\u2026' : '';
  }

  function draw(s) {
    title.textContent = Object.prototype.hasOwnProperty.call(TITLES, s.phase) ? TITLES[s.phase] : 'Muvra';
    message.textContent = s.message || '';
    latest.textContent = s.latestVersion || 'Not checked';
    installed.textContent = s.canLaunch ? 'Verified' : 'Not verified';
    launchButton.disabled = !s.canLaunch || Boolean(s.busy);
    checkButton.disabled = Boolean(s.busy);
    cancelButton.hidden = !s.busy;
    area.hidden = !(s.busy || s.progress > 0);
    progress.value = s.progress || 0;
    detail.textContent = detailText(s);
    badge.textContent = s.busy ? 'Working' : (s.canLaunch ? 'Ready' : 'Launcher');
    badge.dataset.state = s.phase === 'error' ? 'error' : (s.canLaunch ? 'ready' : 'connecting');
  }

  function refresh() {
    if (inFlight) {
      return Promise.resolve();
    }
    inFlight = true;
    return window.muvra.call('get_loader_state').then(draw, function (error) {
      message.textContent = error.message;
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
