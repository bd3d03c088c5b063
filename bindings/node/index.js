'use strict';
const { openCapture } = require('./lib/capture');
const { recognize } = require('./lib/recognize');

module.exports = { openCapture, recognize };
