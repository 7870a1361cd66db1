#!/usr/bin/perl
# Reads one table with Perl XBase and prints what it answered as JSON, for
# dump_table.py: the field list, then per record the deletion flag and every
# value as the hex of the bytes XBase gave (null where it gave undef). The
# caller decodes the text, so code pages stay out of this script.
use strict;
use warnings;
use JSON::PP;
use XBase;

my $path = shift @ARGV or die "usage: xbase_read.pl TABLE.dbf\n";
# A dBASE III memo ends at its first 0x1A; XBase's default end mark is two
# of them, which runs a memo that fills its blocks on into the next one.
my $table = XBase->new(name => $path, memosep => "\x1a")
  or die "XBase cannot open $path: " . XBase->errstr . "\n";

my @names = $table->field_names;
my @types = $table->field_types;
my @lengths = $table->field_lengths;
my @decimals = $table->field_decimals;
my @fields = map {
  { name => $names[$_], type => $types[$_], len => 0 + $lengths[$_], dec => 0 + ($decimals[$_] // 0) }
} 0 .. $#names;

my @records;
for my $n (0 .. $table->last_record) {
  my ($deleted, @values) = $table->get_record($n);
  die "XBase cannot read record " . ($n + 1) . ": " . $table->errstr . "\n" unless defined $deleted;
  push @records, {
    deleted => $deleted ? JSON::PP::true : JSON::PP::false,
    values => [map { defined $_ ? unpack('H*', "$_") : undef } @values],
  };
}
$table->close;
print JSON::PP->new->canonical->encode({ fields => \@fields, records => \@records }), "\n";
