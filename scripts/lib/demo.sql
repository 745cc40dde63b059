-- The demo database of scripts/serve: a few tables that together hold every column type, with
-- a few thousand rows (some NULLs), and the memo folder of the company.
-- iif() of CHAR literals is a CHAR as long as the longest one, blank-padded: names built from
-- one are trimmed.

create table clientes (
  id integer not null primary key,
  nome varchar(60) not null,
  uf char(2),
  cnpj char(14),
  nascimento date,
  ativo boolean,
  saldo numeric(15,2),
  obs blob sub_type text,
  foto blob sub_type binary
);

create table produtos (
  codigo smallint not null primary key,
  descricao varchar(80) not null,
  preco numeric(15,2),
  custo numeric(18,4),
  peso float,
  volume double precision,
  estoque bigint
);

create table vendas (
  id bigint not null primary key,
  cliente_id integer not null references clientes(id),
  produto smallint not null references produtos(codigo),
  quantidade integer,
  data date,
  hora time,
  registrado timestamp,
  total numeric(18,4)
);

-- One column of every type side by side; every tenth row is NULL throughout.
create table tipos (
  id integer not null primary key,
  c_smallint smallint,
  c_integer integer,
  c_bigint bigint,
  c_numeric15_2 numeric(15,2),
  c_numeric18_4 numeric(18,4),
  c_float float,
  c_double double precision,
  c_char char(10),
  c_varchar varchar(100),
  c_date date,
  c_time time,
  c_timestamp timestamp,
  c_boolean boolean,
  c_blob_text blob sub_type text,
  c_blob_binary blob sub_type binary
);

create table config_memo (
  caminho varchar(255)
);
commit;

set term ^;
execute block as
  declare i integer;
  declare ufs varchar(60) = 'SPRJMGRSPRBAPESCGOPACEAMDFESMTMSPBRNALSEPIMATOROAPAC';
begin
  i = 1;
  while (i <= 3000) do
  begin
    insert into clientes values (
      :i,
      'Cliente ' || :i || trim(trailing from iif(mod(:i, 7) = 0, ' Conceição', iif(mod(:i, 5) = 0, ' São João', ''))),
      substring(:ufs from mod(:i, 27) * 2 + 1 for 2),
      lpad(cast(:i * 97 as varchar(14)), 14, '0'),
      dateadd(-mod(:i * 37, 20000) day to date '2005-06-30'),
      mod(:i, 3) <> 0,
      iif(mod(:i, 11) = 0, null, (mod(:i * 7919, 2000000) - 500000) / 100.00),
      iif(mod(:i, 4) = 0, null, 'Observação do cliente ' || :i || ': pagamento à vista, ação nº ' || mod(:i, 13)),
      iif(mod(:i, 9) = 0, gen_uuid(), null));
    i = i + 1;
  end

  i = 1;
  while (i <= 300) do
  begin
    insert into produtos values (
      :i,
      'Produto ' || :i || trim(trailing from iif(mod(:i, 6) = 0, ' (edição especial)', '')),
      (mod(:i * 131, 100000) + 99) / 100.00,
      (mod(:i * 977, 10000000) + 1) / 10000.0000,
      :i * 0.25,
      :i * 1.0e-3 + 1.0 / 3,
      iif(mod(:i, 17) = 0, null, cast(:i as bigint) * 100000003));
    i = i + 1;
  end

  i = 1;
  while (i <= 5000) do
  begin
    insert into vendas values (
      cast(:i as bigint) + 4000000000,
      mod(:i * 13, 3000) + 1,
      mod(:i * 7, 300) + 1,
      mod(:i, 20) + 1,
      dateadd(mod(:i, 700) day to date '2024-01-01'),
      dateadd(mod(:i * 61, 86400) second to time '00:00:00'),
      dateadd(mod(:i * 61, 86400) second to cast(dateadd(mod(:i, 700) day to date '2024-01-01') as timestamp)),
      (mod(:i * 7, 300) + 1) * (mod(:i, 20) + 1) * 1.2345);
    i = i + 1;
  end

  i = 1;
  while (i <= 2000) do
  begin
    if (mod(:i, 10) = 0) then
      insert into tipos (id) values (:i);
    else
      insert into tipos values (
        :i,
        mod(:i, 65536) - 32768,
        :i * 1000003 - 1000000000,
        cast(:i as bigint) * 4611686018427 - 4611686018427387,
        (:i - 1000) * 12.34,
        (:i - 1000) * 1.2345,
        :i / 7.0e0,
        :i / 3.0e0 * 1.0e10,
        'c' || mod(:i, 1000),
        'Texto ' || :i || ' — ação',
        dateadd(:i day to date '1999-12-31'),
        dateadd(mod(:i * 3, 86400) second to time '00:00:00.1234'),
        dateadd(:i * 3600 second to timestamp '2000-01-01 00:00:00.5000'),
        mod(:i, 2) = 1,
        'Texto longo ' || :i || ' com acentuação: é, ã, ç, ü.',
        gen_uuid());
    i = i + 1;
  end
end^
set term ;^

insert into config_memo values ('C:\KVO\Memos');
commit;
