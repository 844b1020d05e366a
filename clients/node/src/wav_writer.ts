// A canonical 44-byte-header PCM WAV file, written as samples arrive. The header goes out first
// with sizes for an empty file; close() patches the two sizes, so a file closed at any point
// (after Ctrl-C, say) is a well-formed WAV of what was written.

import { open, type FileHandle } from 'node:fs/promises';
import { endianness } from 'node:os';

export const wavHeaderBytes = 44;

/** The RIFF size field is 32 bits and counts everything after its own 8 bytes. */
export const maxWavDataBytes = 0xffffffff - (wavHeaderBytes - 8);

const hostIsLittleEndian = endianness() === 'LE';

export interface WavFormat {
  sampleRate: number;
  channels: number;
}

/** The 44 header bytes for 16-bit PCM with dataBytes of samples. */
export function wavHeader(format: WavFormat, dataBytes: number): Buffer {
  const bytesPerFrame = format.channels * 2;
  const header = Buffer.alloc(wavHeaderBytes);
  header.write('RIFF', 0, 'ascii');
  header.writeUInt32LE(wavHeaderBytes - 8 + dataBytes, 4);
  header.write('WAVE', 8, 'ascii');
  header.write('fmt ', 12, 'ascii');
  header.writeUInt32LE(16, 16); // size of the fmt chunk
  header.writeUInt16LE(1, 20); // PCM
  header.writeUInt16LE(format.channels, 22);
  header.writeUInt32LE(format.sampleRate, 24);
  header.writeUInt32LE(format.sampleRate * bytesPerFrame, 28); // byte rate
  header.writeUInt16LE(bytesPerFrame, 32); // block align
  header.writeUInt16LE(16, 34); // bits per sample
  header.write('data', 36, 'ascii');
  header.writeUInt32LE(dataBytes, 40);
  return header;
}

function littleEndianBytes(samples: Int16Array): Uint8Array {
  if (hostIsLittleEndian) return new Uint8Array(samples.buffer, samples.byteOffset, samples.byteLength);
  const bytes = Buffer.alloc(samples.byteLength);
  for (let i = 0; i < samples.length; i++) bytes.writeInt16LE(samples[i] as number, i * 2);
  return bytes;
}

export class WavWriter {
  private dataBytes = 0;
  private closed = false;
  private writeError: unknown;
  // Writes run one after another; this is the tail of that chain.
  private pending: Promise<void> = Promise.resolve();

  private constructor(
    private readonly file: FileHandle,
    readonly format: WavFormat,
  ) {}

  /** Creates (or truncates) the file and writes the header of an empty recording. */
  static async create(path: string, format: WavFormat): Promise<WavWriter> {
    const file = await open(path, 'w');
    try {
      await file.write(wavHeader(format, 0), 0, wavHeaderBytes, 0);
    } catch (error) {
      await file.close();
      throw error;
    }
    return new WavWriter(file, format);
  }

  /** Sample bytes accepted so far (all of them on disk once close() has resolved). */
  get bytesWritten(): number {
    return this.dataBytes;
  }

  /**
   * Appends samples (interleaved when there are several channels). Returns false, writing
   * nothing, when they would take the file past what a WAV header can describe.
   */
  write(samples: Int16Array): boolean {
    if (this.closed) throw new Error('the WAV file is already closed');
    if (this.writeError !== undefined) throw this.writeError;
    if (this.dataBytes + samples.byteLength > maxWavDataBytes) return false;
    const bytes = littleEndianBytes(samples);
    const position = wavHeaderBytes + this.dataBytes;
    this.dataBytes += bytes.length;
    this.pending = this.pending
      .then(async () => {
        if (this.writeError === undefined) await this.file.write(bytes, 0, bytes.length, position);
      })
      .catch((error: unknown) => {
        this.writeError ??= error;
      });
    return true;
  }

  /** Waits for the writes, patches the RIFF and data sizes and closes the file. */
  async close(): Promise<void> {
    if (this.closed) return;
    this.closed = true;
    try {
      await this.pending;
      if (this.writeError !== undefined) throw this.writeError;
      await this.file.write(wavHeader(this.format, this.dataBytes), 0, wavHeaderBytes, 0);
    } finally {
      await this.file.close();
    }
  }
}
