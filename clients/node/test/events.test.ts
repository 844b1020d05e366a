import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { ProtocolError } from '../src/errors.js';
import { parseEventLine, type HelperEvent, type HelperEventType } from '../src/events.js';

describe('parseEventLine', () => {
  // One line of every event type the helper writes, as it writes them.
  const valid: Record<HelperEventType, string> = {
    starting: '{"type":"starting","engine":"coreaudio-process-tap","pid":4321}',
    ready: '{"engine":"pulseaudio-monitor","channels":1,"sampleRate":16000,"type":"ready"}',
    error: '{"type":"error","code":"capture_start_failed","message":"No default macOS output device is available."}',
    warning: '{"type":"warning","code":"format_probe_failed","message":"Falling back to float32 mono stream format.","status":-50}',
    'output.device': '{"type":"output.device","deviceID":73,"deviceUID":"BuiltInSpeakerDevice"}',
    'target.processes': '{"type":"target.processes","processObjects":[101,202,202]}',
    'tap.created': '{"type":"tap.created","tapID":90,"tapUUID":"0F6E","tapUID":"0F6E"}',
    format: '{"type":"format","sampleRate":48000,"channels":2,"bitsPerChannel":32,"bytesPerFrame":4,"formatFlags":41}',
    'capture.started': '{"type":"capture.started","aggregateDeviceID":91}',
    'output.device.changed': '{"type":"output.device.changed","deviceUID":"USB-Headset"}',
    chunk: '{"type":"chunk","chunks":50,"bytes":17100,"rms":0.5590169943749475,"peak":0.75}',
    'audio-input-processes':
      '{"type":"audio-input-processes","processes":[{"pid":450,"bundleId":"com.example.a"},{"pid":7,"bundleId":""}]}',
  };

  for (const [type, line] of Object.entries(valid)) {
    it(`reads a "${type}" line with every key and its value`, () => {
      const event = parseEventLine(line);
      assert.equal(event.type, type);
      assert.deepEqual(event, JSON.parse(line));
    });
  }

  it('narrows on "type" and keeps keys it does not know', () => {
    const event: HelperEvent = parseEventLine('{"type":"chunk","chunks":1,"bytes":342,"rms":0,"peak":0,"extra":true}');
    assert.equal(event.type === 'chunk' ? event.bytes : -1, 342);
    assert.equal((event as unknown as Record<string, unknown>)['extra'], true);
  });

  it('takes warnings with only a status, or with nothing besides the code', () => {
    assert.deepEqual(parseEventLine('{"type":"warning","code":"tap_uid_probe_failed","status":-10851}'), {
      type: 'warning',
      code: 'tap_uid_probe_failed',
      status: -10851,
    });
    assert.equal(parseEventLine('{"type":"warning","code":"device_listener_failed"}').type, 'warning');
  });

  const invalid: { name: string; line: string; message: RegExp }[] = [
    { name: 'not JSON', line: '{"type":"ready"', message: /not JSON/ },
    { name: 'an empty line', line: '', message: /not JSON/ },
    { name: 'an array', line: '[1,2]', message: /not a JSON object/ },
    { name: 'no type', line: '{"code":"x"}', message: /no string "type"/ },
    { name: 'a numeric type', line: '{"type":7}', message: /no string "type"/ },
    { name: 'an unknown type', line: '{"type":"hello"}', message: /unknown event type "hello"/ },
    { name: 'a missing key', line: '{"type":"output.device","deviceID":2}', message: /lacks "deviceUID"/ },
    { name: 'a string pid', line: '{"type":"starting","engine":"x","pid":"12"}', message: /bad "pid"/ },
    { name: 'a fractional ID', line: '{"type":"capture.started","aggregateDeviceID":1.5}', message: /bad "aggregateDeviceID"/ },
    { name: 'a string level', line: '{"type":"chunk","chunks":1,"bytes":2,"rms":"0","peak":0}', message: /bad "rms"/ },
    { name: 'a bad process entry', line: '{"type":"audio-input-processes","processes":[{"pid":1}]}', message: /bad "processes"/ },
    { name: 'a bad object list', line: '{"type":"target.processes","processObjects":[1,"2"]}', message: /bad "processObjects"/ },
    { name: 'an unknown error code', line: '{"type":"error","code":"oops","message":""}', message: /unknown error code/ },
    { name: 'an error code as warning', line: '{"type":"warning","code":"retap_failed"}', message: /unknown warning code/ },
    { name: 'a warning status as text', line: '{"type":"warning","code":"tap_uid_probe_failed","status":"-1"}', message: /bad "status"/ },
  ];
  for (const { name, line, message } of invalid) {
    it(`refuses ${name}`, () => {
      assert.throws(() => parseEventLine(line), (error: unknown) => {
        assert.ok(error instanceof ProtocolError);
        assert.match(error.message, message);
        return true;
      });
    });
  }
});
