// Splits a byte stream into line-feed terminated lines. Lines are cut from bytes, not from
// decoded text, so a multi-byte UTF-8 character split across two reads comes out whole.

import { ProtocolError } from './errors.js';

/** Far longer than any event line; a longer run without a line feed is not an event stream. */
export const defaultMaxLineBytes = 1024 * 1024;

const lineFeed = 0x0a;

export class LineParser {
  readonly maxLineBytes: number;

  private readonly decoder = new TextDecoder('utf-8');
  private pending: Uint8Array[] = [];
  private pendingLength = 0;
  private failure: ProtocolError | undefined;

  constructor(options: { maxLineBytes?: number } = {}) {
    this.maxLineBytes = options.maxLineBytes ?? defaultMaxLineBytes;
  }

  /**
   * Takes the next bytes of the stream and hands each line they complete to onLine, in order,
   * without its line feed. When a line outgrows the limit it throws ProtocolError, after the
   * lines before it have been handed on, and keeps throwing from then on.
   */
  push(chunk: Uint8Array, onLine: (line: string) => void): void {
    if (this.failure) throw this.failure;
    let start = 0;
    for (;;) {
      const end = chunk.indexOf(lineFeed, start);
      if (end < 0) break;
      this.checkLength(end - start);
      onLine(this.take(chunk.subarray(start, end)));
      start = end + 1;
    }
    if (start < chunk.length) {
      this.checkLength(chunk.length - start);
      // Copy (a Buffer's slice would be a view): the caller may reuse its memory after push.
      this.pending.push(Uint8Array.prototype.slice.call(chunk, start));
      this.pendingLength += chunk.length - start;
    }
  }

  /** The bytes after the last line feed, decoded, or undefined when there are none. Clears them. */
  flush(): string | undefined {
    if (this.pendingLength === 0) return undefined;
    return this.take(new Uint8Array(0));
  }

  private checkLength(more: number): void {
    if (this.pendingLength + more > this.maxLineBytes) {
      this.failure = new ProtocolError(`a line of more than ${this.maxLineBytes} bytes`);
      throw this.failure;
    }
  }

  private take(tail: Uint8Array): string {
    let bytes = tail;
    if (this.pendingLength > 0) {
      bytes = new Uint8Array(this.pendingLength + tail.length);
      let offset = 0;
      for (const piece of this.pending) {
        bytes.set(piece, offset);
        offset += piece.length;
      }
      bytes.set(tail, offset);
      this.pending = [];
      this.pendingLength = 0;
    }
    return this.decoder.decode(bytes);
  }
}
