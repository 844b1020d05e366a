import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { ProtocolError } from '../src/errors.js';
import { LineParser } from '../src/line_parser.js';
import { cut, type Chunking } from './support/known_stream.js';

function feed(parser: LineParser, pieces: Uint8Array[]): string[] {
  const lines: string[] = [];
  for (const piece of pieces) parser.push(piece, (line) => lines.push(line));
  return lines;
}

describe('LineParser', () => {
  const lines = [
    '{"type":"starting","engine":"pulseaudio-monitor","pid":12}',
    '{"type":"output.device","deviceID":2,"deviceUID":"Lautsprecher – Büro 🎧"}',
    '',
    '{"type":"ready","engine":"pulseaudio-monitor","sampleRate":16000,"channels":1}',
  ];
  const stream = Buffer.from(lines.map((line) => `${line}\n`).join(''));

  for (const chunking of ['whole', 'bytes', 'random'] as Chunking[]) {
    it(`returns each line whole, multi-byte characters included, read ${chunking}`, () => {
      const parser = new LineParser();
      const got = feed(parser, cut(stream, chunking, 11));
      assert.deepEqual(got, lines);
      assert.equal(parser.flush(), undefined);
    });
  }

  it('keeps a piece whose reader reuses its buffer', () => {
    const parser = new LineParser();
    const reused = Buffer.from('{"a":');
    assert.deepEqual(feed(parser, [reused]), []);
    reused.fill(0x20);
    assert.deepEqual(feed(parser, [Buffer.from('1}\n')]), ['{"a":1}']);
  });

  it('hands out an unterminated last line on flush, once', () => {
    const parser = new LineParser();
    assert.deepEqual(feed(parser, [Buffer.from('one\ntw')]), ['one']);
    assert.deepEqual(feed(parser, [Buffer.from('o')]), []);
    assert.equal(parser.flush(), 'two');
    assert.equal(parser.flush(), undefined);
  });

  it('refuses a line longer than its limit, split or not, after the lines before it, and stays failed', () => {
    for (const pieces of [['ok\n12345678\n'], ['ok\n1234', '5678', '\n'], ['ok\n123456789']]) {
      const parser = new LineParser({ maxLineBytes: 7 });
      const lines: string[] = [];
      assert.throws(() => pieces.forEach((piece) => parser.push(Buffer.from(piece), (line) => lines.push(line))), ProtocolError);
      assert.deepEqual(lines, ['ok'], pieces.join('|'));
      assert.throws(() => parser.push(Buffer.from('ok\n'), () => undefined), ProtocolError);
    }
    assert.deepEqual(feed(new LineParser({ maxLineBytes: 7 }), [Buffer.from('1234567\n')]), ['1234567']);
  });
});
