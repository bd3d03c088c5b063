'use strict';
// The capture library in JavaScript's terms: callbacks on JavaScript's own
// thread, a stop that can be awaited, frames dropped (and counted) rather
// than queued without bound when JavaScript falls behind.
const path = require('node:path');

const DEFAULT_LIBRARY = 'libmivo_capture.so.1';
const DEFAULT_ADDON = path.join(__dirname, '..', 'build', 'mivo_node.node');

// An exception in a host's callback must not end the capture: it becomes a
// process warning and the next frame is delivered as usual.
function guarded(name, callback) {
  return (...args) => {
    try {
      callback(...args);
    } catch (error) {
      process.emitWarning(`${name} threw: ${error instanceof Error ? error.message : error}`, {
        type: 'MivoCaptureWarning',
        code: 'MIVO_CALLBACK_THREW',
        detail: error instanceof Error ? error.stack : undefined,
      });
    }
  };
}

class Capture {
  #addon;

  constructor(addon) {
    this.#addon = addon;
  }

  start({ onFrame, onStopped } = {}) {
    if (typeof onFrame !== 'function') throw new TypeError('start needs an onFrame function');
    if (onStopped !== undefined && typeof onStopped !== 'function')
      throw new TypeError('onStopped must be a function');
    this.#addon.start(guarded('onFrame', onFrame), onStopped && guarded('onStopped', onStopped));
  }

  stop() {
    return this.#addon.stop();
  }

  lastError() {
    return this.#addon.lastError();
  }

  get droppedFrames() {
    return this.#addon.droppedFrames();
  }
}

let capture = null;

// The process's capture. `library` is the capture library to load: its
// SONAME (found through the system's library path) or a file path. A
// process loads one library; asking for another fails.
function openCapture({ library = DEFAULT_LIBRARY, addon = DEFAULT_ADDON } = {}) {
  const native = require(addon);
  native.load(library);
  capture ??= new Capture(native);
  return capture;
}

module.exports = { openCapture };
