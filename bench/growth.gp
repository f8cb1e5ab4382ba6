# The growth plot: time and peak working set of each job against the printer's resolution.
# Called with data='growth.dat' and output='benchmark.png'.
set terminal pngcairo size 1100,450 font ",10"
set output output
set multiplot layout 1,2
set logscale x 2
set xlabel "printer resolution (dpi)"
set key top left
set grid
set xtics (300, 600, 1200, 2400)
set title "Time from the Print command to the job's completion"
set ylabel "ms"
plot data using 1:4 with linespoints title "Direct", \
     data using 1:8 with linespoints title "Bitmap", \
     data using 1:2 with linespoints title "floor: one rectangle", \
     data using 1:6 with linespoints title "floor: one page bitmap"
set title "Peak working set of the process"
set ylabel "MB"
plot data using 1:5 with linespoints title "Direct", \
     data using 1:9 with linespoints title "Bitmap", \
     data using 1:3 with linespoints title "floor: one rectangle", \
     data using 1:7 with linespoints title "floor: one page bitmap"
unset multiplot
