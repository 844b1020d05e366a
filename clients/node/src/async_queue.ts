// A push-fed async iterator: the producer pushes values, then ends or fails it once; the
// consumer pulls with for-await. Values pushed before anyone pulls are kept in order.

export class AsyncQueue<T> implements AsyncIterableIterator<T> {
  private readonly values: T[] = [];
  private readonly waiters: {
    resolve: (result: IteratorResult<T>) => void;
    reject: (error: unknown) => void;
  }[] = [];
  private closed = false;
  private failure: { error: unknown } | undefined;
  private readonly onReturn: (() => void) | undefined;

  constructor(onReturn?: () => void) {
    this.onReturn = onReturn;
  }

  push(value: T): void {
    if (this.closed) return;
    const waiter = this.waiters.shift();
    if (waiter) waiter.resolve({ value, done: false });
    else this.values.push(value);
  }

  /** Ends the iteration after the values already pushed. */
  end(): void {
    if (this.closed) return;
    this.closed = true;
    for (const waiter of this.waiters.splice(0)) waiter.resolve({ value: undefined, done: true });
  }

  /** Ends the iteration with an error, thrown after the values already pushed. */
  fail(error: unknown): void {
    if (this.closed) return;
    this.closed = true;
    this.failure = { error };
    for (const waiter of this.waiters.splice(0)) waiter.reject(error);
  }

  /** Values pushed and not yet pulled. */
  get size(): number {
    return this.values.length;
  }

  next(): Promise<IteratorResult<T>> {
    if (this.values.length > 0) {
      return Promise.resolve({ value: this.values.shift() as T, done: false });
    }
    if (this.failure) {
      const { error } = this.failure;
      // Thrown once; after that the iterator is simply done.
      this.failure = undefined;
      return Promise.reject(error);
    }
    if (this.closed) return Promise.resolve({ value: undefined, done: true });
    return new Promise((resolve, reject) => this.waiters.push({ resolve, reject }));
  }

  return(): Promise<IteratorResult<T>> {
    this.values.length = 0;
    this.failure = undefined;
    this.end();
    this.onReturn?.();
    return Promise.resolve({ value: undefined, done: true });
  }

  [Symbol.asyncIterator](): AsyncIterableIterator<T> {
    return this;
  }
}
