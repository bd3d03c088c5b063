'use strict';
// Loading the capture library, and a start that fails: no sound server needed.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');
const { openCapture } = require('..');

const addon = process.env.MIVO_NODE_ADDON || undefined;
const library = process.env.MIVO_CAPTURE_LIBRARY || 'libmivo_capture.so.1';

test('a library that is not there fails with the path and the loader reason', () => {
  const missing = path.join(os.tmpdir(), 'mivo-nowhere', 'libmivo_capture.so.1');
  assert.throws(() => openCapture({ library: missing, addon }), {
    message: new RegExp(`^cannot load the capture library ${missing}: .*No such file`),
  });
});

test('a start without a sound server throws the status and the reason', () => {
  const mivo = openCapture({ library, addon });
  // A runtime folder with no server in it, for this process only.
  process.env.XDG_RUNTIME_DIR = fs.mkdtempSync(path.join(os.tmpdir(), 'mivo-no-server-'));
  delete process.env.PIPEWIRE_REMOTE;
  let frames = 0;
  assert.throws(() => mivo.start({ onFrame: () => frames++ }), (error) => {
    assert.equal(error.code, 6);
    assert.equal(error.message, `the capture did not start (status 6): ${mivo.lastError()}`);
    return true;
  });
  assert.equal(frames, 0);
});

test('a second library path is refused once one is loaded', () => {
  openCapture({ library, addon });
  assert.throws(() => openCapture({ library: '/elsewhere/libmivo_capture.so.1', addon }), {
    message: /already loaded from/,
  });
});
