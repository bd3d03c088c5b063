'use strict';
// What the tests share: where the pieces under test are (the top-level build
// passes its own through the environment) and a foreign tone.
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { openCapture } = require('..');

const repository = path.join(__dirname, '..', '..', '..');

function capture() {
  return openCapture({
    library: process.env.MIVO_CAPTURE_LIBRARY || undefined,
    addon: process.env.MIVO_NODE_ADDON || undefined,
  });
}

// Another application's process playing FREQUENCY Hz at AMPLITUDE until
// stopped: a child of this process would be the host's own sound, which the
// capture leaves out, so a shell starts it in the background, tells its pid
// and exits. Should the test process die first, the player ends by itself
// after two minutes.
function playTone(frequency, amplitude) {
  const player = process.env.MIVO_TONE_PLAYER;
  if (!player) throw new Error('MIVO_TONE_PLAYER must name the tone player');
  const told = execFileSync('sh', ['-c', '"$@" >/dev/null 2>&1 </dev/null & echo $!', 'sh',
    player, String(frequency), '120', '0', String(amplitude)], { encoding: 'utf8' });
  const pid = Number(told.trim());
  const running = () => {
    try {
      return !/^\S+ \(.*\) Z/s.test(fs.readFileSync(`/proc/${pid}/stat`, 'utf8'));
    } catch {
      return false;
    }
  };
  return {
    stop: async () => {
      try { process.kill(pid, 'SIGTERM'); } catch { return; }
      while (running()) await sleep(10);
    },
  };
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Polls CONDITION every 20 ms; fails after TIMEOUT_MS.
async function eventually(condition, timeoutMs, what) {
  const deadline = Date.now() + timeoutMs;
  while (!condition()) {
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(20);
  }
}

module.exports = { repository, capture, playTone, sleep, eventually };
