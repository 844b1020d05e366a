import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { ProtocolError } from '../src/errors.js';
import { LineParser } from '../src/line_parser.js';
import { cut, type Chunking } from './support/known_stream.js';

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
      const got = cut(stream, chunking, 11).flatMap((piece) => parser.push(piece));
      assert.deepEqual(got, lines);
      assert.equal(parser.flush(), undefined);
    });
  }

  it('keeps a piece whose reader reuses its buffer', () => {
    const parser = new LineParser();
    const reused = Buffer.from('{"a":');
    assert.deepEqual(parser.push(reused), []);
    reused.fill(0x20);
    assert.deepEqual(parser.push(Buffer.from('1}\n')), ['{"a":1}']);
  });

  it('hands out an unterminated last line on flush, once', () => {
    const parser = new LineParser();
    assert.deepEqual(parser.push(Buffer.from('one\ntw')), ['one']);
    assert.deepEqual(parser.push(Buffer.from('o')), []);
    assert.equal(parser.flush(), 'two');
    assert.equal(parser.flush(), undefined);
  });

  it('refuses a line longer than its limit, split or not, and stays failed', () => {
    for (const pieces of [['12345678\n'], ['1234', '5678', '\n'], ['123456789']]) {
      const parser = new LineParser({ maxLineBytes: 7 });
      assert.throws(() => pieces.forEach((piece) => parser.push(Buffer.from(piece))), ProtocolError, pieces.join('|'));
      assert.throws(() => parser.push(Buffer.from('ok\n')), ProtocolError);
    }
    const parser = new LineParser({ maxLineBytes: 7 });
    assert.deepEqual(parser.push(Buffer.from('1234567\n')), ['1234567']);
  });
});
