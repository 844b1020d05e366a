// Splits the capture-mode standard output into frames: a 4-byte little-endian payload length,
// then that many bytes of little-endian signed 16-bit mono samples. The pipe hands over bytes
// in whatever pieces the kernel chose, so a length or a payload may be cut anywhere.

import { endianness } from 'node:os';
import { ProtocolError } from './errors.js';

/** Larger than any one IO cycle can produce; a length beyond it means the stream is out of step. */
export const defaultMaxPayloadBytes = 16 * 1024 * 1024;

const hostIsLittleEndian = endianness() === 'LE';

export class FrameParser {
  readonly maxPayloadBytes: number;

  private readonly header = new Uint8Array(4);
  private headerFill = 0;
  private payload: Int16Array | undefined;
  private payloadBytes: Uint8Array | undefined;
  private payloadFill = 0;
  private failure: ProtocolError | undefined;

  constructor(options: { maxPayloadBytes?: number } = {}) {
    this.maxPayloadBytes = options.maxPayloadBytes ?? defaultMaxPayloadBytes;
  }

  /**
   * Takes the next bytes of the stream and hands each frame they complete to onFrame, in
   * order. Each frame is a fresh Int16Array with its own aligned buffer, so it stays valid
   * after the chunk is reused. On a zero, odd or oversized length it throws ProtocolError,
   * after the frames before the fault have been handed on; from then on every call throws
   * the same error, since the stream has lost its framing.
   */
  push(chunk: Uint8Array, onFrame: (frame: Int16Array) => void): void {
    if (this.failure) throw this.failure;
    let offset = 0;
    while (offset < chunk.length) {
      if (this.payloadBytes === undefined) {
        const take = Math.min(4 - this.headerFill, chunk.length - offset);
        this.header.set(chunk.subarray(offset, offset + take), this.headerFill);
        this.headerFill += take;
        offset += take;
        if (this.headerFill < 4) break;
        this.headerFill = 0;
        this.beginPayload(new DataView(this.header.buffer).getUint32(0, true));
        continue;
      }
      const bytes = this.payloadBytes;
      const take = Math.min(bytes.length - this.payloadFill, chunk.length - offset);
      bytes.set(chunk.subarray(offset, offset + take), this.payloadFill);
      this.payloadFill += take;
      offset += take;
      if (this.payloadFill === bytes.length) onFrame(this.finishPayload());
    }
  }

  /** Bytes of a frame that has begun but not yet ended (0 between frames). */
  get pendingBytes(): number {
    return this.payloadBytes === undefined ? this.headerFill : 4 + this.payloadFill;
  }

  private beginPayload(length: number): void {
    let problem: string | undefined;
    if (length === 0) problem = 'a frame of length 0';
    else if (length % 2 !== 0) problem = `a frame of odd length ${length}`;
    else if (length > this.maxPayloadBytes) problem = `a frame of ${length} bytes, over the limit of ${this.maxPayloadBytes}`;
    if (problem !== undefined) {
      this.failure = new ProtocolError(`the helper's standard output holds ${problem}`);
      throw this.failure;
    }
    this.payload = new Int16Array(length / 2);
    this.payloadBytes = new Uint8Array(this.payload.buffer);
    this.payloadFill = 0;
  }

  private finishPayload(): Int16Array {
    const samples = this.payload as Int16Array;
    if (!hostIsLittleEndian) {
      const view = new DataView(samples.buffer);
      for (let i = 0; i < samples.length; i++) samples[i] = view.getInt16(i * 2, true);
    }
    this.payload = undefined;
    this.payloadBytes = undefined;
    this.payloadFill = 0;
    return samples;
  }
}
