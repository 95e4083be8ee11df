# SPDX-License-Identifier: Apache-2.0
# Lifecycle wall time against the number of volumes, one line per operation, log-log, with a
# line of slope one (cost linear in N) through the whole lifecycle's time at N = 16, the
# reference of the scaling goal.
# gnuplot -e "data='...'; out='...svg'" bench/lifecycle.gp
set terminal svg size 760,480 dynamic enhanced font "sans,12" background rgb "white"
set output out
set title "One call per operation for N volumes, against arraysim on loopback"
set xlabel "volumes per call (N)"
set ylabel "wall time per call (ms)"
set logscale xy
set grid xtics ytics mxtics mytics lc rgb "#dddddd"
set key top left
set xtics (1, 16, 128, 512)
set xrange [0.8:700]
stats data using ($1 == 16 ? $7 : 1/0) nooutput
first_n = 16
first_t = STATS_max
plot data using 1:2 with linespoints lw 2 pt 7 title "prepare", \
     data using 1:3 with linespoints lw 2 pt 5 title "snap", \
     data using 1:4 with linespoints lw 2 pt 9 title "map", \
     data using 1:5 with linespoints lw 2 pt 11 title "unmap", \
     data using 1:6 with linespoints lw 2 pt 13 title "delete", \
     data using 1:7 with linespoints lw 3 pt 15 lc rgb "black" title "whole lifecycle", \
     first_t * x / first_n with lines dt 2 lc rgb "gray" title "linear in N from N = 16"
