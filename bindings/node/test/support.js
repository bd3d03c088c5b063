'use strict';
// What the tests share: where the pieces under test are (the top-level build
// passes its own through the environment) and a foreign tone.
const { spawn } = require('node:child_process');
const path = require('node:path');
const { openCapture } = require('..');

const repository = path.join(__dirname, '..', '..', '..');

function capture() {
  return openCapture({
    library: process.env.MIVO_CAPTURE_LIBRARY || undefined,
    addon: process.env.MIVO_NODE_ADDON || undefined,
  });
}

// Another process playing FREQUENCY Hz at AMPLITUDE until stopped. Should
// the test process die first, the player holds none of its output open (the
// test runner would wait for it) and ends by itself after two minutes.
function playTone(frequency, amplitude) {
  const player = process.env.MIVO_TONE_PLAYER;
  if (!player) throw new Error('MIVO_TONE_PLAYER must name the tone player');
  const child = spawn(player, [String(frequency), '120', '0', String(amplitude)], { stdio: 'ignore' });
  return {
    stop: () => new Promise((resolve) => (child.exitCode !== null ? resolve() : child.once('exit', resolve), child.kill())),
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
