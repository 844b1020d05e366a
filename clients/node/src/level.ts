// Signal level of 16-bit samples, for the recorder's meter.

const fullScale = 32768;

/** Floor of the meter; digital silence shows as this. */
export const silenceDbfs = -96;

/** Collects samples over one display interval and tells their RMS and peak, full scale 1.0. */
export class LevelMeter {
  private sumOfSquares = 0;
  private count = 0;
  private peakMagnitude = 0;

  add(samples: Int16Array): void {
    let sum = 0;
    let peak = this.peakMagnitude;
    for (const sample of samples) {
      const x = sample / fullScale;
      sum += x * x;
      const magnitude = Math.abs(x);
      if (magnitude > peak) peak = magnitude;
    }
    this.sumOfSquares += sum;
    this.count += samples.length;
    this.peakMagnitude = peak;
  }

  get rms(): number {
    return this.count === 0 ? 0 : Math.sqrt(this.sumOfSquares / this.count);
  }

  get peak(): number {
    return this.peakMagnitude;
  }

  reset(): void {
    this.sumOfSquares = 0;
    this.count = 0;
    this.peakMagnitude = 0;
  }
}

/** A level (full scale 1.0) in dB relative to full scale, never below silenceDbfs. */
export function toDbfs(level: number): number {
  if (!(level > 0)) return silenceDbfs;
  return Math.max(silenceDbfs, 20 * Math.log10(level));
}

/** A bar of `width` cells for a level in dBFS, filled in proportion from -60 dBFS to 0 dBFS. */
export function meterBar(dbfs: number, width: number): string {
  const floor = -60;
  const filled = Math.round((Math.min(0, Math.max(floor, dbfs)) / -floor + 1) * width);
  return '#'.repeat(filled) + '-'.repeat(width - filled);
}

/** Seconds as m:ss.t (tenths truncated, so the display never runs ahead of the audio). */
export function formatElapsed(seconds: number): string {
  const tenths = Math.floor(seconds * 10 + 1e-9);
  const minutes = Math.floor(tenths / 600);
  const rest = tenths - minutes * 600;
  const wholeSeconds = Math.floor(rest / 10);
  return `${minutes}:${String(wholeSeconds).padStart(2, '0')}.${rest % 10}`;
}
