# Reads the JSON files Google Benchmark writes with repetitions and prints,
# for each file, the median and coefficient of variation of every case in the
# order the program registers them, then the ratios the README quotes, then
# one table of throughput at 1 to 8 threads over every store that answered
# the threaded lookups (the cache, the unshared floor, LevelDB, RocksDB).
# Usage: awk -f scripts/summarize-benchmarks.awk build/bench/results/*.json

function value(    v) {
  v = $0
  sub(/^[^:]*: */, "", v)
  sub(/,$/, "", v)
  gsub(/"/, "", v)
  return v
}

FNR == 1 {
  file = FILENAME
  sub(/^.*\//, "", file)
  sub(/\.json$/, "", file)
  files[++fileCount] = file
}
/^      "run_name":/ { run = value() }
/^      "family_index":/ { family = value() + 0 }
/^      "per_family_instance_index":/ { instance = value() + 0 }
/^      "aggregate_name":/ { aggregate = value() }
/^      "run_type":/ { runType = value() }
/^      "repetition_index":/ { repetition = value() + 0 }
/^      "real_time":/ { real = value() + 0 }
/^      "time_unit":/ { unit = value() }
/^      "entries":/ { entries = value() + 0 }
/^      "items_per_second":/ { throughput = value() + 0 }
/^    }/ {
  key = file SUBSEP run
  if (aggregate == "median") {
    median[key] = real
    units[key] = unit
    entryCounts[key] = entries
    throughputs[key] = throughput
    slot = family * 1000 + instance
    runAt[file, slot] = run
    if (slot > lastSlot[file]) lastSlot[file] = slot
  } else if (aggregate == "cv") {
    cv[key] = real
  } else if (runType == "iteration" && throughput != "") {
    # Each repetition's throughput, for the ranges of the threads table.
    repeated[key, repetition] = throughput
    if (repetition + 1 > repetitions[key]) repetitions[key] = repetition + 1
  }
  run = aggregate = unit = entries = throughput = runType = repetition = ""
}

# "median (low-high)" of the ratio of throughputs of runs A and B: the median
# is the ratio of their medians, the range that of the repetitions paired by
# index (interleaved at random, so each pair ran in about the same stretch).
function pairedRatio(file, runA, runB,    a, b, r, lo, hi, n, ratioNow) {
  a = throughputs[file SUBSEP runA]
  b = throughputs[file SUBSEP runB]
  if (a == "" || b == "" || b == 0) return "-"
  n = repetitions[file SUBSEP runA]
  if (repetitions[file SUBSEP runB] < n) n = repetitions[file SUBSEP runB]
  lo = hi = ""
  for (r = 0; r < n; ++r) {
    ratioNow = repeated[file SUBSEP runA, r] / repeated[file SUBSEP runB, r]
    if (lo == "" || ratioNow < lo) lo = ratioNow
    if (hi == "" || ratioNow > hi) hi = ratioNow
  }
  if (lo == "") return sprintf("%.2f", a / b)
  return sprintf("%.2f (%.2f-%.2f)", a / b, lo, hi)
}

# The median throughput of a run in millions of items a second, with the
# range over its repetitions.
function throughputCell(file, run,    key, r, lo, hi, x) {
  key = file SUBSEP run
  if (throughputs[key] == "") return "-"
  lo = hi = ""
  for (r = 0; r < repetitions[key]; ++r) {
    x = repeated[key, r]
    if (lo == "" || x < lo) lo = x
    if (hi == "" || x > hi) hi = x
  }
  if (lo == "") return sprintf("%.2f", throughputs[key] / 1e6)
  return sprintf("%.2f (%.2f-%.2f)", throughputs[key] / 1e6, lo / 1e6, hi / 1e6)
}

# One row of the threads table: `store` as run by `file`, its floor's 2 / 1
# taken from the same file (the same run of the same program).
function threadsRow(workloadLabel, label, file, store, workload, bytes,
                    base, row, t) {
  base = store "/" workload "/markdown:" bytes "/real_time/threads:"
  if (throughputs[file SUBSEP base "1"] == "") return
  row = sprintf("| %s | %s | %s | %s", workloadLabel, label, file,
                throughputCell(file, base "1"))
  for (t = 2; t <= 8; t *= 2) {
    row = row " | " pairedRatio(file, base t, base "1")
  }
  base = "Floor/" workload "/markdown:" bytes "/real_time/threads:"
  row = row " | " pairedRatio(file, base "2", base "1") " |"
  print row
}

# Ratio of the median throughputs (items per second) of two cases.
function throughputRatio(label, fileA, runA, fileB, runB, target,    a, b) {
  a = throughputs[fileA SUBSEP runA]
  b = throughputs[fileB SUBSEP runB]
  if (a == "" || b == "" || b == 0) return
  printf "%-62s %6.3f  %s\n", label, a / b, target
}

function ratio(label, fileA, runA, fileB, runB, target,    a, b) {
  a = median[fileA SUBSEP runA]
  b = median[fileB SUBSEP runB]
  if (a == "" || b == "") return
  printf "%-62s %6.3f  %s\n", label, a / b, target
}

END {
  for (f = 1; f <= fileCount; ++f) {
    file = files[f]
    printf "\n=== %s: medians\n", file
    printf "%-70s %13s %7s %8s\n", "case", "median", "cv", "entries"
    for (slot = 0; slot <= lastSlot[file]; ++slot) {
      if (!((file, slot) in runAt)) continue
      key = file SUBSEP runAt[file, slot]
      shown = median[key]
      unit = units[key]
      if (unit == "ns" && shown >= 10000) { shown /= 1000; unit = "us" }
      printf "%-70s %10.1f %-2s %6.1f%% %8s\n", runAt[file, slot], shown,
             unit, 100 * cv[key], entryCounts[key]
    }
  }

  c = "cache_benchmark"
  n = "cache_benchmark.no-rep-movsb"
  b = "baseline_benchmark"
  p = "leveldb_peer_benchmark"
  docs = "/documents/min_time:0.500/manual_time"
  print "\n=== ratios of medians"
  ratio("documents: byte-budgeted cache / floor", c, "MeasurementCache" docs,
        c, "Floor" docs, "(target <= 1.10)")
  ratio("documents, rep movsb off: byte-budgeted cache / floor",
        n, "MeasurementCache" docs, n, "Floor" docs, "")
  ratio("documents: count-only cache / floor", b, "BaselineCache" docs,
        b, "Floor" docs, "")
  ratio("documents, peer program: byte-budgeted cache / floor",
        p, "MeasurementCache" docs, p, "Floor" docs, "")
  ratio("documents, peer program, rep movsb off: cache / floor",
        p ".no-rep-movsb", "MeasurementCache" docs,
        p ".no-rep-movsb", "Floor" docs, "")
  ratio("documents, peer program: LevelDB / floor", p, "LevelDB" docs,
        p, "Floor" docs, "")
  for (bytes = 64; bytes <= 262144; bytes *= 64) {
    ratio("get hit, " bytes " B: MeasurementCache / LevelDB lookup+release",
          p, "MeasurementCache/get_hit/markdown:" bytes,
          p, "LevelDB/lookup_release_hit/markdown:" bytes,
          bytes <= 4096 ? "(target <= 1.00)" : "")
  }
  print "\n=== throughput on one shared cache, n threads / 1 thread"
  for (bytes = 64; bytes <= 4096; bytes *= 64) {
    for (t = 2; t <= 8; t *= 2) {
      target = ""
      if (t == 2) target = bytes == 64 ? "(target >= 0.75)" : "(target >= 1.70)"
      throughputRatio("get hit, " bytes " B, " t " threads / 1", c,
                      "MeasurementCache/get_hit_threads/markdown:" bytes \
                      "/real_time/threads:" t, c,
                      "MeasurementCache/get_hit_threads/markdown:" bytes \
                      "/real_time/threads:1", target)
    }
    for (t = 2; t <= 8; t *= 2) {
      throughputRatio("get/set 80/20, " bytes " B, " t " threads / 1", c,
                      "MeasurementCache/get_set_mix_threads/markdown:" bytes \
                      "/real_time/threads:" t, c,
                      "MeasurementCache/get_set_mix_threads/markdown:" bytes \
                      "/real_time/threads:1",
                      t == 2 && bytes == 64 ? "(target >= 0.75)" : "")
    }
  }
  r = "rocksdb_peer_benchmark"
  split("get_hit_threads:64:64-B hits,get_set_mix_threads:64:80/20 get/set at 64 B," \
        "get_hit_threads:4096:4-KiB hits,get_set_mix_threads:4096:80/20 get/set at 4 KiB",
        workloads, ",")
  split("MeasurementCache:" c ":MeasurementCache,Floor:" c ":floor (unshared maps)," \
        "LevelDB:" p ":LevelDB NewLRUCache,RocksDB.LRU:" r ":RocksDB NewLRUCache," \
        "RocksDB.HyperClock:" r ":RocksDB HyperClockCache", stores, ",")
  print "\n=== threads: throughput at 1 thread (M items/s), then total " \
        "throughput at n threads / 1 thread (medians; ranges over repetitions " \
        "paired by index)"
  print "| workload | store | program | 1 thread | 2 / 1 | 4 / 1 | 8 / 1 | " \
        "floor 2 / 1, same run |"
  print "|---|---|---|---|---|---|---|---|"
  for (w = 1; w in workloads; ++w) {
    split(workloads[w], part, ":")
    for (k = 1; k in stores; ++k) {
      split(stores[k], which, ":")
      threadsRow(part[3], which[3], which[2], which[1], part[1], part[2])
    }
  }
  l = "lock_benchmark"
  split("std_mutex pthread_adaptive_mutex spin_then_yield", others, " ")
  print "\n=== locks around a hit-shaped critical section: throughput, " \
        "spin_then_park / other"
  for (bytes = 64; bytes <= 4096; bytes *= 64) {
    for (t = 1; t <= 8; t *= 2) {
      for (o = 1; o <= 3; ++o) {
        throughputRatio(bytes " B, " t " threads: spin_then_park / " others[o],
                        l, "Lock/spin_then_park/markdown:" bytes \
                        "/real_time/threads:" t, l,
                        "Lock/" others[o] "/markdown:" bytes \
                        "/real_time/threads:" t, "")
      }
    }
  }
  print "\n=== locks: throughput, n threads / 1 thread"
  split("std_mutex pthread_adaptive_mutex spin_then_yield spin_then_park",
        locks, " ")
  for (bytes = 64; bytes <= 4096; bytes *= 64) {
    for (k = 1; k <= 4; ++k) {
      for (t = 2; t <= 8; t *= 2) {
        throughputRatio(bytes " B, " locks[k] ", " t " threads / 1",
                        l, "Lock/" locks[k] "/markdown:" bytes \
                        "/real_time/threads:" t, l,
                        "Lock/" locks[k] "/markdown:" bytes \
                        "/real_time/threads:1", "")
      }
    }
  }
  for (bytes = 64; bytes <= 262144; bytes *= 64) {
    ratio("inserting set, " bytes " B: MeasurementCache / LevelDB",
          p, "MeasurementCache/set_insert_evicting_by_count/markdown:" bytes,
          p, "LevelDB/insert_release_evicting/markdown:" bytes, "")
  }
}
