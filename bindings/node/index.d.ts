/** Receives one IO cycle of system audio, downmixed to mono. */
export type FrameCallback = (samples: Float32Array, sampleRate: number) => void;

export interface CaptureCallbacks {
  /** Called on JavaScript's thread. `samples` is JavaScript's own: keep it as long as you like. */
  onFrame: FrameCallback;
  /** The capture went silent (the default output moved to a device that failed); frames resume by themselves. */
  onStopped?: () => void;
}

/** A failed start: `code` is the library's status (1 already capturing, 4 superseded, 6 no sound server, 7 no usable output, 8 IO stage). */
export interface CaptureStartError extends Error {
  code: number;
}

export interface Capture {
  /** Starts capturing; throws a CaptureStartError when the library cannot. */
  start(callbacks: CaptureCallbacks): void;
  /** Ends the capture. No callback reaches JavaScript after this call; may be called from a callback. */
  stop(): Promise<void>;
  /** The text of the library's most recent failure, or null. */
  lastError(): string | null;
  /** Frames dropped since the last start because JavaScript fell more than half a second behind. */
  readonly droppedFrames: number;
}

export interface OpenCaptureOptions {
  /** The capture library: a SONAME found through the system's library path, or a file path. Default: "libmivo_capture.so.1". */
  library?: string;
  /** The addon file, for hosts that package it elsewhere. Default: build/mivo_node.node in this package. */
  addon?: string;
}

/** The process's capture, loading the capture library on first use. */
export function openCapture(options?: OpenCaptureOptions): Capture;

export interface RecognizeOptions {
  /** Kills the tool and rejects (code "ETIMEDOUT") after this long: 1 to 2147483647 ms. Default: 30000. */
  timeoutMs?: number;
  /** The mivo-ocr program: a name looked up on PATH, or a path. Default: "mivo-ocr". */
  tool?: string;
}

export interface Recognition {
  text: string;
  lineCount: number;
  confidence: number;
}

/** Reads the text of one image file with mivo-ocr. Rejects with the tool's own message (code "MIVO_OCR_FAILED") when it cannot. */
export function recognize(imagePath: string, options?: RecognizeOptions): Promise<Recognition>;
