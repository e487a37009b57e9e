package com.vesk.orvanex.tests.jni;

import com.vesk.orvanex.DirectoryException;

import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;

/** The bridge's plumbing: exceptions, workers, attachment, many threads at once, the assertion dump. */
public final class BridgeTests {
    private BridgeTests() {}

    public static String run() {
        Check c = new Check();
        c.run("exception helpers", () -> {
            c.eq(44, NativeProbe.testExceptionOf(new DirectoryException(44, "x")), "DirectoryException code");
            c.eq(0, NativeProbe.testExceptionOf(new IllegalStateException("x")), "other exceptions give 0");
            DirectoryException broken = new DirectoryException(5, "x") {
                private static final long serialVersionUID = 1L;
                @Override public int getErrorCode() { throw new RuntimeException("no code"); }
            };
            c.eq(25, NativeProbe.testExceptionOf(broken), "getErrorCode throwing gives 25");
            c.eq(0, NativeProbe.callAndTest(() -> {}), "nothing pending");
            c.eq(0, NativeProbe.callAndTest(() -> { throw new RuntimeException("from a callback"); }),
                 "a Java exception from a callback is reported, not fatal");
        });
        c.run("workers", () -> {
            int n = NativeProbe.workerCount();
            c.eq(3, n, "java_dispatch_threads = 3");
            ConcurrentHashMap<Integer, String> names = new ConcurrentHashMap<>();
            CountDownLatch done = new CountDownLatch(n);
            for (int w = 0; w < n; w++) {
                final int worker = w;
                c.ok(NativeProbe.runOnWorker(() -> {
                    names.put(worker, Thread.currentThread().getName());
                    done.countDown();
                }, w), "queued to worker " + w);
            }
            c.ok(done.await(30, TimeUnit.SECONDS), "every worker ran its operation");
            c.eq(n, names.size(), "one name per worker");
            for (String name : names.values()) c.ok(name.startsWith("DaemonThread-"), "attached name " + name);
            c.ok(NativeProbe.runOnWorker(() -> { throw new RuntimeException("thrown on a worker"); }, 0),
                 "queued a throwing operation");
            AtomicInteger after = new AtomicInteger();
            c.ok(NativeProbe.runOnWorker(after::incrementAndGet, 0), "queued after it");
            c.ok(NativeProbe.syncWorkers(30000), "workers drained");
            c.eq(1, after.get(), "a worker goes on after a Java exception");
            CountDownLatch changed = new CountDownLatch(1);
            NativeProbe.queuePropertiesChanged((com.vesk.orvanex.agent.OrvanexPropertiesListener) changed::countDown);
            c.ok(changed.await(30, TimeUnit.SECONDS), "propertiesChanged delivered");
            // threadHash: 5381 for the empty key; with three workers every second pick avoids worker 0.
            for (int i = 0; i < 6; i++) {
                int h = NativeProbe.threadHash("");
                c.ok(h >= 0 && h < n, "hash in range: " + h);
            }
        });
        c.run("attachment", () -> {
            c.ok(!NativeProbe.attachFromPlainThread(), "a plain native thread gets no environment");
            c.ok(NativeProbe.attachInNative(), "a native that pushed its environment finds it");
        });
        c.run("many threads", () -> {
            NativeProbe.registerClass(4991, Mapped.Inner.class);
            int threads = 8;
            int perThread = 2000;
            AtomicInteger bad = new AtomicInteger();
            Thread[] ts = new Thread[threads];
            for (int t = 0; t < threads; t++) {
                final int id = t;
                ts[t] = new Thread(() -> {
                    for (int i = 0; i < perThread; i++) {
                        String s = "t" + id + "-" + i + "-\u00e9\ud83d\ude00";
                        if (!s.equals(NativeProbe.roundTrip(s))) bad.incrementAndGet();
                        Mapped.Inner in = new Mapped.Inner(s, i);
                        if (!in.equals(NativeProbe.roundTrip(in))) bad.incrementAndGet();
                        NativeProbe.holdAndRelease(s);
                    }
                });
                ts[t].start();
            }
            for (Thread t : ts) t.join(120000);
            for (Thread t : ts) c.ok(!t.isAlive(), "thread finished");
            c.eq(0, bad.get(), "every concurrent round trip");
        });
        c.run("assertion dump", () -> {
            PrintStream old = System.err;
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            System.setErr(new PrintStream(out, true, "UTF-8"));
            try {
                NativeProbe.failAssertion();
            } finally {
                System.setErr(old);
            }
            c.ok(out.toString("UTF-8").contains("Java thread dump"), "the Java threads were dumped without SIGQUIT");
        });
        return c.report();
    }
}
